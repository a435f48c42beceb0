#include "tests/test_registry.h"
#include "util/data_root.h"
#include "util/text_util.h"

#include <QTest>

namespace {
const char *openQuoteMsg = "In a line [%1] item is started from quote but not ended by quote";
const char *closeQuoteMsg = "In a line [%1] item is started from not quote but ended by quote";
} // namespace

class TestTextUtil : public QObject {
    Q_OBJECT
private slots:
    void takeFirstItem_data();
    void takeFirstItem();
    void takeFirstItemWalksALine();
    void itemsAfterKey_data();
    void itemsAfterKey();
    void startsWithKey();
    void removeComment_data();
    void removeComment();
    void splitCommentKeepsCommentWhenNoMark();
    void isBlankLine_data();
    void isBlankLine();
    void endsWithContinuationMark_data();
    void endsWithContinuationMark();
    void padding();
    void dataRoot();
};

void TestTextUtil::takeFirstItem_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("rest");
    QTest::addColumn<QString>("diagnostic");

    QTest::newRow("leading blanks") << "  alpha   beta"
                                    << "alpha"
                                    << "   beta"
                                    << "";
    QTest::newRow("last item") << "   beta"
                               << "beta"
                               << ""
                               << "";
    QTest::newRow("quoted path") << "\"C:/My Data/run 1\" 25"
                                 << "C:/My Data/run 1"
                                 << " 25"
                                 << "";
    QTest::newRow("quote needs no blank after it") << "\"ab\"cd"
                                                   << "ab"
                                                   << "cd"
                                                   << "";
    QTest::newRow("empty quoted item") << "\"\"  x"
                                       << ""
                                       << "  x"
                                       << "";
    QTest::newRow("open quote") << "\"open end"
                                << "open end"
                                << "" << openQuoteMsg;
    QTest::newRow("open quote keeps trailing blanks") << " \"open end  "
                                                      << "open end  "
                                                      << "" << openQuoteMsg;
    QTest::newRow("lone quote") << "\""
                                << ""
                                << "" << openQuoteMsg;
    QTest::newRow("closing quote only") << "abc\""
                                        << "abc\""
                                        << "" << closeQuoteMsg;
    QTest::newRow("closing quote then more") << "abc\" def"
                                             << "abc\""
                                             << " def" << closeQuoteMsg;
    QTest::newRow("quote inside item") << "ab\"cd ef"
                                       << "ab\"cd"
                                       << " ef"
                                       << "";
    QTest::newRow("blanks and tabs") << " \t  \t"
                                     << ""
                                     << ""
                                     << "";
    QTest::newRow("empty") << ""
                           << ""
                           << ""
                           << "";
    QTest::newRow("no-break space is no separator")
        << QString("a") + QChar(0x00a0) + "b c" << QString("a") + QChar(0x00a0) + "b"
        << " c"
        << "";
    QTest::newRow("ideographic space is no separator")
        << QString("a") + QChar(0x3000) + "b" << QString("a") + QChar(0x3000) + "b"
        << ""
        << "";
    QTest::newRow("vertical tab and form feed separate") << "\va\fb"
                                                         << "a"
                                                         << "\fb"
                                                         << "";
    QTest::newRow("backslash is ordinary") << "C:\\dir\\ x"
                                           << "C:\\dir\\"
                                           << " x"
                                           << "";
}

void TestTextUtil::takeFirstItem()
{
    QFETCH(QString, line);
    QFETCH(QString, item);
    QFETCH(QString, rest);
    QFETCH(QString, diagnostic);
    if (!diagnostic.isEmpty())
        QTest::ignoreMessage(QtDebugMsg, qPrintable(diagnostic.arg(line)));
    QString got = "previous";
    QCOMPARE(::takeFirstItem(line, got), rest);
    QCOMPARE(got, item);
}

void TestTextUtil::takeFirstItemWalksALine()
{
    // A command line split the way the command parser does it.
    QString rest = "auto_save_image_path \"D:/my data\" tail";
    QStringList items;
    QString item;
    do {
        rest = ::takeFirstItem(rest, item);
        if (!item.isEmpty())
            items << item;
    } while (!item.isEmpty());
    QCOMPARE(items, QStringList({ "auto_save_image_path", "D:/my data", "tail" }));

    // Taking the item into the line it comes from.
    QString same = "first second";
    QCOMPARE(::takeFirstItem(same, same), QString(" second"));
    QCOMPARE(same, QString("first"));
}

void TestTextUtil::itemsAfterKey_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("items");

    QTest::newRow("trailing blank gives an empty item")
        << "Prop_ImageWidth=640 "
        << "Prop_ImageWidth=" << QStringList({ "640", "" });
    QTest::newRow("several items") << "Prop_Size=2 3 \"a b\""
                                   << "Prop_Size=" << QStringList({ "2", "3", "a b" });
    QTest::newRow("empty quoted item goes on") << "K=\"\" x"
                                               << "K=" << QStringList({ "", "x" });
    QTest::newRow("nothing after key") << "K="
                                       << "K=" << QStringList();
    QTest::newRow("key longer than line") << "K"
                                          << "Key=" << QStringList();
}

void TestTextUtil::itemsAfterKey()
{
    QFETCH(QString, line);
    QFETCH(QString, key);
    QFETCH(QStringList, items);
    QCOMPARE(::itemsAfterKey(line, key), items);
}

void TestTextUtil::startsWithKey()
{
    QVERIFY(::startsWithKey("Prop_ImageWidth=640", "Prop_ImageWidth="));
    QVERIFY(!::startsWithKey("prop_imagewidth=640", "Prop_ImageWidth="));
    QVERIFY(!::startsWithKey("Prop_Image", "Prop_ImageWidth="));
    QVERIFY(::startsWithKey("anything", ""));
}

void TestTextUtil::removeComment_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("comment");

    QTest::newRow("plain") << "Key  value  # note"
                           << "Key  value  "
                           << " note";
    QTest::newRow("mark inside double quotes") << "Key \"a # b\" c"
                                               << "Key \"a # b\" c"
                                               << "untouched";
    QTest::newRow("apostrophe opens a quote") << "Key don't # note"
                                              << "Key don't # note"
                                              << "untouched";
    QTest::newRow("mixed quotes share one flag") << "a \"x' # y"
                                                 << "a \"x' "
                                                 << " y";
    QTest::newRow("mark after closed quote") << "a \"b\" #c"
                                             << "a \"b\" "
                                             << "c";
    QTest::newRow("mark first") << "#images_load D:/scan *.img"
                                << ""
                                << "images_load D:/scan *.img";
    QTest::newRow("empty comment") << "cmd #"
                                   << "cmd "
                                   << "";
}

void TestTextUtil::removeComment()
{
    QFETCH(QString, line);
    QFETCH(QString, result);
    QFETCH(QString, comment);
    QCOMPARE(::removeComment(line), result);
    QString got = "untouched";
    QCOMPARE(::splitComment(line, got), result);
    QCOMPARE(got, comment);
}

void TestTextUtil::splitCommentKeepsCommentWhenNoMark()
{
    QString comment = "old";
    QCOMPARE(::splitComment("", comment), QString());
    QCOMPARE(comment, QString("old"));
}

void TestTextUtil::isBlankLine_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("blank");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("comment only") << "   # only a comment" << true;
    QTest::newRow("ideographic spaces") << QString(3, QChar(0x3000)) << true;
    QTest::newRow("tabs") << "\t \t" << true;
    QTest::newRow("item and comment") << "x # c" << false;
    QTest::newRow("quoted mark") << "\"#\"" << false;
}

void TestTextUtil::isBlankLine()
{
    QFETCH(QString, line);
    QFETCH(bool, blank);
    QCOMPARE(::isBlankLine(line), blank);
}

void TestTextUtil::endsWithContinuationMark_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("continued");
    QTest::addColumn<QString>("after");
    QTest::newRow("mark and trailing blanks") << "cmd a \\  " << true << "cmd a ";
    QTest::newRow("mark at end") << "cmd a\\" << true << "cmd a";
    QTest::newRow("two marks cut one") << "cmd a\\\\" << true << "cmd a\\";
    QTest::newRow("no mark") << "cmd a" << false << "cmd a";
    QTest::newRow("mark inside") << "cmd \\ a" << false << "cmd \\ a";
    QTest::newRow("blank line") << "   " << false << "   ";
    QTest::newRow("empty") << "" << false << "";
    QTest::newRow("mark alone") << "\\" << true << "";
}

void TestTextUtil::endsWithContinuationMark()
{
    QFETCH(QString, line);
    QFETCH(bool, continued);
    QFETCH(QString, after);
    QCOMPARE(::endsWithContinuationMark(line), continued);
    QCOMPARE(line, after);
}

void TestTextUtil::padding()
{
    QCOMPARE(::padRight("abc", 6), QString("abc   "));
    QCOMPARE(::padRight("abcdef", 3), QString("abcdef"));
    QCOMPARE(::padRight("abcdef", 6), QString("abcdef"));
    QCOMPARE(::padRight("", 150), QString(101, ' '));
    QCOMPARE(::padRight("images_seek", 25).size(), 25);
    QCOMPARE(::spaces(0), QString());
    QCOMPARE(::spaces(4), QString(4, ' '));
    QCOMPARE(::spaces(100).size(), 100);
    QCOMPARE(::spaces(101).size(), 101);
    QCOMPARE(::spaces(5000).size(), 101);
    QCOMPARE(::spaces(-1).size(), 101);
}

void TestTextUtil::dataRoot()
{
    const QString before = ::dataRoot();
    QVERIFY(!before.isEmpty());
    ::setDataRoot("D:/my data");
    QCOMPARE(::dataRoot(), QString("D:/my data"));
    ::setDataRoot(before);
    QCOMPARE(::dataRoot(), before);
}

VORLO_TEST(TestTextUtil)
#include "test_text_util.moc"
