#include "codepages.h"

#include <QHash>

#include <array>

CodePages::CodePages(QObject* parent) : QObject(parent) {}

const QByteArray& CodePages::findChar(QChar c, bool alternative)
{
    // A receipt looks up every character: the pages are searched once for every character
    // they hold, and the answers kept, Latin-1 (nearly every character of a receipt) in a flat
    // table and the rest hashed. A character in no page gets 00 00.
    struct Answers
    {
        std::array<QByteArray, 256> latin1;
        QHash<ushort, QByteArray> others;
    };
    static const auto answers = [] {
        std::array<Answers, 2> result;
        for (int mode = 0; mode < 2; ++mode) {
            const int leftOut = mode ? 16 : 19;
            for (int page = 0; page < pageCount; ++page) {
                if (page == leftOut)
                    continue;
                for (int index = 0; index < chars[page].size(); ++index) {
                    const QChar c = chars[page].at(index);
                    if (chars[page].indexOf(c) != index)
                        continue; // only its first place in a page counts
                    QByteArray& pairs = c.unicode() < 256 ? result[mode].latin1[c.unicode()]
                                                          : result[mode].others[c.unicode()];
                    pairs.append(char(page));
                    pairs.append(char(index + 1));
                }
            }
        }
        return result;
    }();
    static const QByteArray none(2, '\0');
    const Answers& table = answers[alternative ? 1 : 0];
    if (c.unicode() < 256) {
        const QByteArray& pairs = table.latin1[c.unicode()];
        return pairs.isEmpty() ? none : pairs;
    }
    const auto found = table.others.constFind(c.unicode());
    return found == table.others.constEnd() ? none : *found;
}
