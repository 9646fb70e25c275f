// Text encoding: folding to ASCII, word wrapping and the printer's code pages.

#include "asciimap.h"
#include "codepages.h"
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

        QTest::newRow("break at the space, which is dropped")
            << "abc def ghi" << 7 << false << "abc def\nghi";
        QTest::newRow("hyphen stays, rest cut hard to the exact width")
            << "aaaa-bbbbbbbbbb" << 5 << false << "aaaa-\nbbbbb\nbbbbb";
        QTest::newRow("fits exactly") << "hello" << 5 << false << "hello";
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
        QTest::newRow("ligature folds to more characters") << "ﬃx yz" << 4 << true << "ffix\nyz";
        // A line width below 1 cannot be wrapped to; the text must not hang the job.
        QTest::newRow("width 0 returns the text") << "abc def ghi" << 0 << false << "abc def ghi";
        QTest::newRow("negative width still folds") << "Ação d" << -5 << true << "Acao d";
        QTest::newRow("huge width")
            << "abc def" << std::numeric_limits<int>::max() << false << "abc def";
    }

    void wrapText()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        QFETCH(bool, fold);
        QFETCH(QString, expected);
        QCOMPARE(ESCTools::wrapText(text, width, fold), expected);
    }

    void foldToASCII_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");

        QTest::newRow("accents; euro is in no table") << "Ação €"
                                                      << "Acao  ";
        QTest::newRow("ASCII and controls untouched") << "a\tb\n\x1b~"
                                                      << "a\tb\n\x1b~";
        QTest::newRow("outside the BMP: a space per surrogate")
            << QString::fromUtf8("x\U0001F600y") << "x  y";
        QTest::newRow("no-break space") << QString(QChar(0x00A0)) << " ";
        const QList<QPair<int, QString>> rows = {
            {0x00C6, "AE"},  {0x00DF, "ss"},   {0x2014, "-"},   {0x201C, "\""},
            {0x2474, "(1)"}, {0x2487, "(20)"}, {0xFB03, "ffi"}, {0xFF21, "A"},
        };
        for (const auto& row : rows)
            QTest::addRow("U+%04X", row.first) << QString(QChar(row.first)) << row.second;
    }

    void foldToASCII()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(ESCTools::foldToASCII(text), expected);
    }

    // A letter folds to the base letters its decomposition gives, in its own case: a capital
    // that has a small form folds to capitals, and that small form to the same in small
    // letters. (Small capitals fold to capitals; tools/gen_asciimap.py checks them by name.)
    void asciiMapIsPrintableASCIIByTheRule()
    {
        QCOMPARE(asciiMap.size(), 1242); // a truncated generation shows here
        for (auto it = asciiMap.cbegin(); it != asciiMap.cend(); ++it) {
            const QString& value = it.value();
            const QString row =
                QStringLiteral("U+%1 %2").arg(it.key(), 4, 16, QLatin1Char('0')).arg(value);
            QVERIFY(!value.isEmpty());
            for (const QChar c : value)
                QVERIFY2(c.unicode() >= 0x20 && c.unicode() < 0x7F, qPrintable(row));
            const QChar key(it.key());
            QString base = QString(key).normalized(QString::NormalizationForm_KD);
            base.remove(QRegularExpression(QStringLiteral("\\p{M}")));
            if (key.isLetter() && base.contains(QRegularExpression(QStringLiteral("^[A-Za-z]+$"))))
                QVERIFY2(value == base, qPrintable(row));
            const int small = key.toLower().unicode();
            if (key.isUpper() && small != it.key()) {
                QVERIFY2(value.toUpper() == value, qPrintable(row));
                QVERIFY2(asciiMap.value(small, value.toLower()) == value.toLower(),
                         qPrintable(row));
            }
        }
    }

    void characterSetParser_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("alternative");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("empty") << "" << false << QByteArray("1b7400");
        QTest::newRow("ASCII and line feed") << "A\n" << false << QByteArray("1b7400410a");
        QTest::newRow("page 3 before page 16")
            << "Õ" << false << QByteArray("1b74001b7403991b7400");
        QTest::newRow("euro in page 19") << "€" << true << QByteArray("1b74001b7413d51b7400");
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
        QFETCH(QByteArray, expected);
        QCOMPARE(ESCTools::characterSetParser(text, alternative).toHex(), expected);
    }

    void codePageTables()
    {
        const QList<int> used = {0, 3, 16, 19};
        for (int page = 0; page < CodePages::pageCount; ++page) {
            const QString& chars = CodePages::chars[page];
            QCOMPARE(chars.size(), used.contains(page) ? 255 : 0);
            if (chars.isEmpty())
                continue;
            for (int byte = 1; byte <= 0x7F; ++byte)
                QCOMPARE(chars.at(byte - 1).unicode(), ushort(byte));
            QVERIFY(!chars.contains(QChar(0x00A0)));
            QVERIFY(!chars.contains(QChar(0x00AD)));
            QCOMPARE(chars.indexOf(QLatin1Char(' ')), 0x1F); // byte 20 before any placeholder
        }
        // Placeholders: byte FF of the IBM pages, the unassigned bytes of WPC1252.
        for (int page : {0, 3, 19})
            QCOMPARE(CodePages::chars[page].at(0xFE), QLatin1Char(' '));
        for (int byte : {0x81, 0x8D, 0x8F, 0x90, 0x9D, 0xA0, 0xAD})
            QCOMPARE(CodePages::chars[16].at(byte - 1), QLatin1Char(' '));
    }
};

QTEST_GUILESS_MAIN(TestEscTools)
#include "tst_esctools.moc"
