// Text encoding: folding to ASCII, word wrapping and the printer's code pages.

#include "asciimap.h"
#include "codepages.h"
#include "esctools.h"

#include <QtTest>

#include <limits>

namespace {
QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}
} // namespace

class TestEscTools : public QObject
{
    Q_OBJECT

private slots:
    void wrapText_data();
    void wrapText();
    void foldToASCII_data();
    void foldToASCII();
    void asciiMapExtent();
    void characterSetParser_data();
    void characterSetParser();
    void findCharListsEveryPage_data();
    void findCharListsEveryPage();
    void codePageTables();
};

void TestEscTools::wrapText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("fold");
    QTest::addColumn<QString>("expected");

    QTest::newRow("break at the space, which is dropped")
        << "abc def ghi" << 7 << false << "abc def\nghi";
    QTest::newRow("hyphen stays, rest cut hard")
        << "aaaa-bbbbbbbbbb" << 5 << false << "aaaa-\nbbbbb\nbbbbb";
    QTest::newRow("long word cut every width") << "abcdefghijk" << 4 << false << "abcd\nefgh\nijk";
    QTest::newRow("exact multiple of width") << "abcdefgh" << 4 << false << "abcd\nefgh";
    QTest::newRow("fits: unchanged") << "hello" << 5 << false << "hello";
    QTest::newRow("fits with room to spare") << "  hi  " << 40 << false << "  hi  ";
    QTest::newRow("empty") << "" << 3 << false << "";
    QTest::newRow("leading spaces of later lines dropped, inner spaces kept")
        << "aaa    bbb ccc" << 5 << false << "aaa  \nbbb\nccc";
    QTest::newRow("line feed before the last space ends the line")
        << "ab\ncd efgh" << 6 << false << "ab\ncd\nefgh";
    QTest::newRow("line feed after the chosen space stays in the text")
        << "aaa bb\ncc" << 8 << false << "aaa\nbb\ncc";
    QTest::newRow("line feed only: hard cut counted from the line start")
        << "abcde\nfghijklmnop" << 10 << false << "abcde\nfghi\njklmnop";
    QTest::newRow("hyphen later than the space wins")
        << "ab cd-efgh" << 7 << false << "ab cd-\nefgh";
    QTest::newRow("space later than the hyphen wins")
        << "ab-cd efgh" << 7 << false << "ab-cd\nefgh";
    QTest::newRow("fold before measuring") << "Ação é bom" << 6 << true << "Acao e\nbom";
    QTest::newRow("ligature folds to more characters") << "ﬃx yz" << 4 << true << "ffix\nyz";
    // A line width of 0 or less cannot be wrapped to; the text must not hang the job.
    QTest::newRow("width 0 returns the text") << "abc def ghi" << 0 << false << "abc def ghi";
    QTest::newRow("negative width returns the text") << "abc def" << -5 << false << "abc def";
    QTest::newRow("width 0 still folds") << "Ação" << 0 << true << "Acao";
    QTest::newRow("huge width") << "abc def" << std::numeric_limits<int>::max() << false
                                << "abc def";
}

void TestEscTools::wrapText()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(bool, fold);
    QFETCH(QString, expected);
    QCOMPARE(ESCTools::wrapText(text, width, fold), expected);
}

void TestEscTools::foldToASCII_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("accents and euro") << "Ação €"
                                      << "Acao  ";
    QTest::newRow("ASCII and controls untouched") << "a\tb\n\x1b~"
                                                  << "a\tb\n\x1b~";
    QTest::newRow("outside the BMP: a space per surrogate")
        << QString::fromUtf8("x\U0001F600y") << "x  y";
    QTest::newRow("no-break space") << QString(QChar(0x00A0)) << " ";

    // The telling rows of the table, and characters it must not hold.
    const QList<QPair<int, QString>> rows = {
        {0x00AB, "\""}, {0x00B2, "2"},   {0x00C6, "AE"},   {0x00D8, "O"},  {0x00DE, "TH"},
        {0x00DF, "ss"}, {0x0141, "L"},   {0x0152, "OE"},   {0x01C4, "DZ"}, {0x1E9E, "SS"},
        {0x2013, "-"},  {0x2014, "-"},   {0x2018, "'"},    {0x201C, "\""}, {0x2044, "/"},
        {0x2460, "1"},  {0x2474, "(1)"}, {0x2487, "(20)"}, {0x2488, "1."}, {0x249C, "(a)"},
        {0x24B6, "A"},  {0x2E28, "(("},  {0xFB03, "ffi"},  {0xFF01, "!"},  {0xFF21, "A"},
        {0x20AC, " "},  {0x2026, " "},   {0x00B0, " "},    {0x00AA, " "},  {0x00BA, " "},
        {0x2122, " "},
    };
    for (const auto& row : rows) {
        QTest::addRow("U+%04X", row.first) << QString(QChar(row.first)) << row.second;
    }
}

void TestEscTools::foldToASCII()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(ESCTools::foldToASCII(text), expected);
}

void TestEscTools::asciiMapExtent()
{
    QCOMPARE(asciiMap.size(), 1242);
    QCOMPARE(asciiMap.firstKey(), 0x00AB);
    QCOMPARE(asciiMap.lastKey(), 0xFF5E);

    QMap<int, int> byLength;
    for (auto it = asciiMap.cbegin(); it != asciiMap.cend(); ++it) {
        ++byLength[it.value().size()];
        for (const QChar c : it.value())
            QVERIFY2(c.unicode() >= 0x20 && c.unicode() < 0x7F, qPrintable(it.value()));
    }
    QCOMPARE(byLength, (QMap<int, int>{{1, 1072}, {2, 111}, {3, 48}, {4, 11}}));
}

void TestEscTools::characterSetParser_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("alternative");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty") << "" << false << hex("1b7400");
    QTest::newRow("ASCII") << "Ab" << false << hex("1b74004162");
    QTest::newRow("line feed") << "\n" << false << hex("1b74000a");
    QTest::newRow("page 0 character") << "ç" << false << hex("1b740087");
    QTest::newRow("page 3 character") << "ã" << false << hex("1b74001b7403841b7400");
    QTest::newRow("page 3 before page 16") << "Õ" << false << hex("1b74001b7403991b7400");
    QTest::newRow("euro in page 16") << "€" << false << hex("1b74001b7410801b7400");
    QTest::newRow("euro in page 19") << "€" << true << hex("1b74001b7413d51b7400");
    QTest::newRow("page 16 only") << "Š" << false << hex("1b74001b74108a1b7400");
    QTest::newRow("page 16 skipped with the alternative set") << "Š" << true << hex("1b740000");
    QTest::newRow("in no page") << QString(QChar(0x4E2D)) << false << hex("1b740000");
    QTest::newRow("no-break space is no plain space")
        << QString(QChar(0x00A0)) << false << hex("1b740000");
    QTest::newRow("soft hyphen") << QString(QChar(0x00AD)) << true << hex("1b740000");
    QTest::newRow("NUL") << QString(QChar(0)) << false << hex("1b740000");
    QTest::newRow("mixed, back to page 0 after each switch")
        << "São € 1º" << false << hex("1b7400531b7403841b74006f201b7410801b74002031a7");
}

void TestEscTools::characterSetParser()
{
    QFETCH(QString, text);
    QFETCH(bool, alternative);
    QFETCH(QByteArray, expected);
    QCOMPARE(ESCTools::characterSetParser(text, alternative).toHex(), expected.toHex());
}

void TestEscTools::findCharListsEveryPage_data()
{
    QTest::addColumn<QChar>("c");
    QTest::addColumn<bool>("alternative");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("é, standard set") << QChar(0x00E9) << false << hex("008203821 0e9");
    QTest::newRow("é, alternative set") << QChar(0x00E9) << true << hex("0082038213 82");
    QTest::newRow("À") << QChar(0x00C0) << true << hex("039113b7");
    QTest::newRow("space only at byte 20 of each page")
        << QChar(' ') << false << hex("0020032010 20");
    QTest::newRow("none") << QChar(0x4E2D) << false << hex("0000");
}

void TestEscTools::findCharListsEveryPage()
{
    QFETCH(QChar, c);
    QFETCH(bool, alternative);
    QFETCH(QByteArray, expected);
    QCOMPARE(CodePages::findChar(c, alternative).toHex(), expected.toHex());
}

void TestEscTools::codePageTables()
{
    const QList<int> used = {0, 3, 16, 19};
    for (int page = 0; page < CodePages::pageCount; ++page) {
        const QString& chars = CodePages::chars[page];
        if (!used.contains(page)) {
            QVERIFY(chars.isEmpty());
            continue;
        }
        QCOMPARE(chars.size(), 255);
        for (int byte = 1; byte <= 0x7F; ++byte)
            QCOMPARE(chars.at(byte - 1).unicode(), ushort(byte));
        QVERIFY(!chars.contains(QChar(0x00A0)));
        QVERIFY(!chars.contains(QChar(0x00AD)));
        QCOMPARE(chars.indexOf(QLatin1Char(' ')), 0x1F); // byte 20 comes first
    }
    // The placeholders: byte FF of the IBM pages, the unassigned bytes of WPC1252.
    for (int page : {0, 3, 19})
        QCOMPARE(CodePages::chars[page].at(0xFE), QLatin1Char(' '));
    for (int byte : {0x81, 0x8D, 0x8F, 0x90, 0x9D, 0xA0, 0xAD})
        QCOMPARE(CodePages::chars[16].at(byte - 1), QLatin1Char(' '));
    QCOMPARE(CodePages::chars[19].at(0xF0 - 1), QLatin1Char(' ')); // soft hyphen in PC858
    // A few well-known positions.
    QCOMPARE(CodePages::chars[0].at(0xB0 - 1), QChar(0x2591));  // light shade
    QCOMPARE(CodePages::chars[3].at(0x84 - 1), QChar(0x00E3));  // ã
    QCOMPARE(CodePages::chars[16].at(0x80 - 1), QChar(0x20AC)); // €
    QCOMPARE(CodePages::chars[19].at(0xD5 - 1), QChar(0x20AC)); // €
}

QTEST_GUILESS_MAIN(TestEscTools)
#include "tst_esctools.moc"
