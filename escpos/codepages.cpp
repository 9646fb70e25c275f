#include "codepages.h"

CodePages::CodePages(QObject* parent) : QObject(parent) {}

QByteArray CodePages::findChar(QChar c, bool alternative)
{
    const int leftOut = alternative ? 16 : 19;
    QByteArray result;
    for (int page = 0; page < pageCount; ++page) {
        if (page == leftOut || chars[page].isEmpty())
            continue;
        const int index = chars[page].indexOf(c);
        if (index >= 0) {
            result.append(char(page));
            result.append(char(index + 1));
        }
    }
    if (result.isEmpty())
        result = QByteArray(2, '\0');
    return result;
}
