// Text encoding: folding to ASCII, word wrapping and the printer's code pages.

#include "esctools.h"

#include <QtTest>

#include <limits>

class TestEscTools : public QObject
{
    Q_OBJECT

private slots:
    void wrapText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("fold");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* name, const QString& text, int width,
                            const QString& expected, bool fold = false) {
            QTest::newRow(name) << text << width << fold << expected;
        };
        row("break at the space, which is dropped", "abc def ghi", 7, "abc def\nghi");
        row("hyphen stays, rest cut hard", "aaaa-bbbbbbbbbb", 5, "aaaa-\nbbbbb\nbbbbb");
        row("fits exactly", "hello", 5, "hello");
        row("empty", "", 3, "");
        row("leading spaces of later lines dropped", "aaa    bbb ccc", 5, "aaa  \nbbb\nccc");
        row("line feed before the last space ends the line", "ab\ncd efgh", 6, "ab\ncd\nefgh");
        row("line feed after the chosen space stays", "aaa bb\ncc", 8, "aaa\nbb\ncc");
        row("hard cut counted from the line start", "abcde\nfghijklmnop", 10,
            "abcde\nfghi\njklmnop");
        row("hyphen later than the space wins", "ab cd-efgh", 7, "ab cd-\nefgh");
        row("space later than the hyphen wins", "ab-cd efgh", 7, "ab-cd\nefgh");
        row("ligature folds to more characters", "ﬃx yz", 4, "ffix\nyz", true);
        row("width 1 cuts every character", "abc", 1, "a\nb\nc");
        row("width 0 returns the text", "abc def ghi", 0, "abc def ghi");
        row("negative width still folds", "Ação d", -5, "Acao d", true);
        row("huge width", "abc def", std::numeric_limits<int>::max(), "abc def");
    }

    void wrapText()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(bool, fold);
        QTEST(ESCTools::wrapText(text, width, fold), "expected");
    }

    void foldToASCII()
    {
        QCOMPARE(ESCTools::foldToASCII("Ação € a\tb\n\x1b~"), QString("Acao   a\tb\n\x1b~"));
        QCOMPARE(ESCTools::foldToASCII(QString::fromUtf8("x\U0001F600y")), QString("x  y"));
        QCOMPARE(ESCTools::foldToASCII(
                     QString::fromUtf16(u"\u00a0\u00c6\u00df\u2014\u201c\u2487\uff21")),
                 QString(" AEss-\"(20)A"));
    }

    void characterSetParser_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("alternative");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("page 3 before page 16")
            << "Õ" << false << QByteArray("1b74001b7403991b7400");
        QTest::newRow("page 16 only") << "Š" << false << QByteArray("1b74001b74108a1b7400");
        QTest::newRow("page 16 skipped with the alternative set")
            << "Š" << true << QByteArray("1b740000");
        QTest::newRow("in no page") << QString(QChar(0x4E2D)) << false << QByteArray("1b740000");
        QTest::newRow("no-break space is no plain space")
            << QString(QChar(0x00A0)) << false << QByteArray("1b740000");
        QTest::newRow("mixed, back to page 0 after each switch")
            << "São € 1º" << false << QByteArray("1b7400531b7403841b74006f201b7410801b74002031a7");
    }

    void characterSetParser()
    {
        QFETCH(QString, text);
        QFETCH(bool, alternative);
        QTEST(ESCTools::characterSetParser(text, alternative).toHex(), "expected");
    }
};

QTEST_GUILESS_MAIN(TestEscTools)
#include "tst_esctools.moc"
