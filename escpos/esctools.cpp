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
    static const QByteArray selectPage0 = EscPos::selectCodePage + char(0);
    QByteArray result = selectPage0;
    result.reserve(3 + text.size());
    for (const QChar c : text) {
        const QByteArray r = CodePages::findChar(c, alternative);
        if (r.at(0) == 0) {
            result.append(r.at(1));
        } else {
            result.append(EscPos::selectCodePage);
            result.append(r.at(0));
            result.append(r.at(1));
            result.append(selectPage0);
        }
    }
    return result;
}
