#ifndef ESCTOOLS_H
#define ESCTOOLS_H

#include <QByteArray>
#include <QString>

// Text preparation for the printer: folding to ASCII, word wrapping and encoding into the
// printer's code pages. Stateless.
class ESCTools
{
public:
    // Copies ASCII, replaces every other UTF-16 unit by its asciiMap entry or by a space.
    static QString foldToASCII(const QString& text);

    // Breaks text into lines of at most width characters, at spaces (dropped), after hyphens
    // (kept) or at line feeds, cutting words that do not fit. The last line gets no line feed.
    // A width below 1 cannot be wrapped to: the text comes back unwrapped (folded if asked).
    static QString wrapText(const QString& text, int width, bool fold);

    // The bytes of text in the printer's code pages, starting with ESC t 0. A character
    // missing from page 0 is sent inside a switch to its page and straight back to page 0;
    // one in no page becomes 00.
    static QByteArray characterSetParser(const QString& text, bool alternative);
};

#endif // ESCTOOLS_H
