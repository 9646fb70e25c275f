#include "esctools.h"

#include "asciimap.h"
#include "codepages.h"
#include "esccommands.h"

#include <algorithm>

QString ESCTools::foldToASCII(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() < 128) {
            result.append(c);
            continue;
        }
        const auto it = asciiMap.constFind(c.unicode());
        if (it != asciiMap.constEnd())
            result.append(it.value());
        else
            result.append(QLatin1Char(' '));
    }
    return result;
}

QString ESCTools::wrapText(const QString& text, int width, bool fold)
{
    const QString source = fold ? foldToASCII(text) : text;
    if (width < 1)
        return source;

    const int length = source.size();
    QString result;
    result.reserve(length + length / width + 1);
    int p = 0;
    for (;;) {
        // Checked first, so p + width below stays inside the text and cannot overflow.
        if (length - p <= width) {
            result.append(source.midRef(p));
            return result;
        }
        if (source.at(p) == QLatin1Char(' ')) {
            ++p; // no line starts with a space
            continue;
        }
        const int s = source.lastIndexOf(QLatin1Char(' '), p + width);
        // A break after a hyphen keeps the hyphen at the end of the line.
        const int h = 1 + source.lastIndexOf(QLatin1Char('-'), p + width - 1);
        const int n = source.lastIndexOf(QLatin1Char('\n'), p + width);
        const int b = std::max(s, h);

        int end = -1;
        if (p < n && n < b)
            end = n;
        else if (b > p)
            end = b;

        if (end < 0) {
            // No break position after the start of the line: cut the word.
            result.append(source.midRef(p, width));
            result.append(QLatin1Char('\n'));
            p += width;
            continue;
        }
        result.append(source.midRef(p, end - p));
        result.append(QLatin1Char('\n'));
        p = (end == h) ? end : end + 1;
    }
}

QByteArray ESCTools::characterSetParser(const QString& text, bool alternative)
{
    // Written in place, as appending byte by byte costs more than the lookups: one byte a
    // character, seven for one sent from another page (the switch there and back).
    QByteArray result(3 + text.size() + 14, Qt::Uninitialized);
    int used = 0;
    const auto put = [&result, &used](std::initializer_list<char> bytes) {
        if (used + int(bytes.size()) > result.size())
            result.resize(2 * result.size());
        std::copy(bytes.begin(), bytes.end(), result.data() + used);
        used += int(bytes.size());
    };
    const char select0 = EscPos::selectCodePage.at(0);
    const char select1 = EscPos::selectCodePage.at(1);
    put({select0, select1, 0});
    for (const QChar c : text) {
        const QByteArray& r = CodePages::findChar(c, alternative);
        if (r.at(0) == 0)
            put({r.at(1)});
        else
            put({select0, select1, r.at(0), r.at(1), select0, select1, 0});
    }
    result.truncate(used);
    return result;
}
