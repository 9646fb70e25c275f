#include "codepages.h"

#include <QHash>

#include <array>

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

quint16 CodePages::firstPosition(QChar c, bool alternative)
{
    // Pages in ascending order and bytes from the lowest, the first holder of a character
    // kept: the same answer as the first pair of findChar. Latin-1, nearly every character
    // of a receipt, in a flat table; the rest hashed.
    struct Table
    {
        std::array<quint16, 256> latin1{};
        QHash<ushort, quint16> others;
    };
    static const auto tables = [] {
        std::array<Table, 2> result;
        for (int mode = 0; mode < 2; ++mode) {
            const int leftOut = mode ? 16 : 19;
            for (int page = pageCount - 1; page >= 0; --page) {
                if (page == leftOut)
                    continue;
                for (int index = chars[page].size() - 1; index >= 0; --index) {
                    const ushort unicode = chars[page].at(index).unicode();
                    const quint16 position = quint16(page << 8 | (index + 1));
                    if (unicode < 256)
                        result[mode].latin1[unicode] = position;
                    else
                        result[mode].others.insert(unicode, position);
                }
            }
        }
        return result;
    }();
    const Table& table = tables[alternative ? 1 : 0];
    return c.unicode() < 256 ? table.latin1[c.unicode()] : table.others.value(c.unicode(), 0);
}
