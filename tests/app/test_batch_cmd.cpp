#include "app/batch_cmd.h"
#include "tests/test_registry.h"

#include <QTest>

class TestBatchCmd : public QObject {
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void matchesInAnyCase();
    void conversions_data();
    void conversions();
    void argsLineReparsesTheRest();
};

void TestBatchCmd::parse_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("cmd");
    QTest::addColumn<QStringList>("args");

    QTest::newRow("word and numbers") << "ct_recorded_cor_1  120   1023.5"
                                      << "ct_recorded_cor_1" << QStringList({ "120", "1023.5" });
    QTest::newRow("quoted path") << "auto_save_image_path \"D:/my data/ct\" extra"
                                 << "auto_save_image_path"
                                 << QStringList({ "D:/my data/ct", "extra" });
    QTest::newRow("unquoted path splits")
        << "auto_save_image_path D:/my data"
        << "auto_save_image_path" << QStringList({ "D:/my", "data" });
    QTest::newRow("empty quoted item ends the arguments")
        << "images_load D:/scan \"\" *.img *.tif"
        << "images_load" << QStringList({ "D:/scan" });
    QTest::newRow("line starting with empty quotes") << "\"\" ct_cor 5"
                                                     << "" << QStringList();
    QTest::newRow("blank line") << "   \t"
                                << "" << QStringList();
    QTest::newRow("tabs separate") << "ct_cor\t1000.5\t"
                                   << "ct_cor" << QStringList({ "1000.5" });
    QTest::newRow("no comment removal") << "ct_cor 5 # note"
                                        << "ct_cor" << QStringList({ "5", "#", "note" });
    QTest::newRow("comment word") << "#images_load D:/scan *.img"
                                  << "#images_load" << QStringList({ "D:/scan", "*.img" });
}

void TestBatchCmd::parse()
{
    QFETCH(QString, line);
    QFETCH(QString, cmd);
    QFETCH(QStringList, args);
    const BatchCmd c(line);
    QCOMPARE(c.line, line);
    QCOMPARE(c.cmd, cmd);
    QCOMPARE(c.args, args);
}

void TestBatchCmd::matchesInAnyCase()
{
    QVERIFY(BatchCmd("CT_COR 1000.5").matches("ct_cor"));
    QVERIFY(BatchCmd(":IfOk ct_cor 1").matches(":ifok"));
    QVERIFY(!BatchCmd("ct_corx 1").matches("ct_cor"));
    QVERIFY(!BatchCmd("").matches("ct_cor"));
}

void TestBatchCmd::conversions_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("flag");
    QTest::addColumn<int>("int0");
    QTest::addColumn<double>("real0");
    QTest::addColumn<QString>("text");

    QTest::newRow("one") << "k 1" << true << 1 << 1.0 << "1";
    QTest::newRow("zero") << "k 0" << false << 0 << 0.0 << "0";
    QTest::newRow("two is no flag") << "k 2" << false << 2 << 2.0 << "2";
    QTest::newRow("letters") << "k yes" << false << 0 << 0.0 << "yes";
    QTest::newRow("missing") << "k" << false << 0 << 0.0 << "";
    QTest::newRow("decimal") << "k 1023.5" << false << 0 << 1023.5 << "1023.5";
    QTest::newRow("negative") << "k -3" << false << -3 << -3.0 << "-3";
    QTest::newRow("beyond 32 bits") << "k 4294967296" << false << 0 << 4294967296.0 << "4294967296";
    QTest::newRow("exponent") << "k 1e-07" << false << 0 << 1e-07 << "1e-07";
    QTest::newRow("decimal comma is no number") << "k 1,5" << false << 0 << 0.0 << "1,5";
    QTest::newRow("infinity") << "k inf" << false << 0 << 0.0 << "inf";
    QTest::newRow("nan") << "k nan" << false << 0 << 0.0 << "nan";
    QTest::newRow("overflow") << "k 1e999" << false << 0 << 0.0 << "1e999";
}

void TestBatchCmd::conversions()
{
    QFETCH(QString, line);
    QFETCH(bool, flag);
    QFETCH(int, int0);
    QFETCH(double, real0);
    QFETCH(QString, text);
    const BatchCmd c(line);
    QCOMPARE(c.flag(), flag);
    QCOMPARE(c.intArg(0), int0);
    QCOMPARE(c.realArg(0), real0);
    QCOMPARE(c.text(), text);
    QCOMPARE(c.intArg(5), 0);
    QCOMPARE(c.intArg(-1), 0);
    QCOMPARE(c.realArg(5), 0.0);
}

void TestBatchCmd::argsLineReparsesTheRest()
{
    const BatchCmd c(":ifok auto_save_image_path \"D:/my data\"");
    QCOMPARE(c.argsLine(), QString("auto_save_image_path D:/my data"));
    const BatchCmd inner(c.argsLine());
    QCOMPARE(inner.cmd, QString("auto_save_image_path"));
    QCOMPARE(inner.text(), QString("D:/my"));
    QCOMPARE(BatchCmd("word").argsLine(), QString());
}

VORLO_TEST(TestBatchCmd)
#include "test_batch_cmd.moc"
