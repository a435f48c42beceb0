#include "app/setup_file.h"
#include "tests/test_registry.h"
#include "util/text_util.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

using Item = SetupFile::Item;
using Section = SetupFile::Section;

QString readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(f.readAll());
}

// The items a main window might write, one section each, with the awkward
// cases: long keys, paths with blanks, empty texts, the commented load line.
QVector<Section> sampleSetup()
{
    const QStringList t = SetupFile::sectionTitles();
    return {
        { t[0],
            { Item { "#images_load", { "D:/my scan", "*.img" } },
                Item::flag("images_new_on_load", true), Item { "images_multi", { "1", "5" } },
                Item::integer("images_seek", 12), Item::text("i0_load", "D:/my scan/i0 0001.img"),
                Item::text("bg_load", "") } },
        { t[1],
            { Item::integer("ct_proc_slice", 1023), Item::real("ct_angle_offset", 0.05),
                Item::real("ct_cor", 1023.5), Item::flag("ct_rot_ax_is_h", false),
                Item { "ct_recorded_cor_1", { "100", SetupFile::number(1020.25) } } } },
        { t[2],
            { Item::real("fix_color_min", 1e-07), Item::text("auto_save_image_path", "D:/out"),
                Item::text("auto_save_image_tag", "run\t2"),
                Item::text("auto_save_data_upper_limit", "10"),
                Item::text("auto_save_data_lower_limit", "-10"),
                Item::flag("auto_save_in_sub_folders_of_energy", true) } },
        { t[3],
            { Item::text("seq_exec_dir", QString::fromUtf8("D:/測定 データ")),
                Item::text("seq_exec_file_pattern", "*.img"),
                Item::integer("seq_exec_keep_range_on_new_set", 1) } },
    };
}

} // namespace

class TestSetupFile : public QObject {
    Q_OBJECT
private slots:
    void number_data();
    void number();
    void keyColumn_data();
    void keyColumn();
    void layout();
    void roundTrip();
    void filesLine();
    void failures();

private:
    QTemporaryDir tmp;
};

void TestSetupFile::number_data()
{
    QTest::addColumn<double>("v");
    QTest::addColumn<QString>("text");
    QTest::newRow("half") << 1023.5 << "1023.5";
    QTest::newRow("small") << 0.05 << "0.05";
    QTest::newRow("tiny") << 1e-07 << "1e-07";
    QTest::newRow("zero") << 0.0 << "0";
    QTest::newRow("negative") << -10.0 << "-10";
    QTest::newRow("six digits") << 123456.0 << "123456";
    QTest::newRow("rounded") << 123456789.0 << "1.23457e+08";
    QTest::newRow("thirds") << 1.0 / 3.0 << "0.333333";
}

void TestSetupFile::number()
{
    QFETCH(double, v);
    QFETCH(QString, text);
    QCOMPARE(SetupFile::number(v), text);
}

void TestSetupFile::keyColumn_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("line");
    QTest::newRow("short key") << "images_seek" << QStringList({ "3" })
                               << "images_seek              3";
    QTest::newRow("24 characters")
        << QString(24, 'k') << QStringList({ "1" }) << QString(24, 'k') + " 1";
    QTest::newRow("25 characters")
        << QString(25, 'k') << QStringList({ "1" }) << QString(25, 'k') + " 1";
    QTest::newRow("long key") << "seq_exec_keep_range_on_new_set" << QStringList({ "0" })
                              << "seq_exec_keep_range_on_new_set 0";
    QTest::newRow("two values") << "ct_recorded_cor_2" << QStringList({ "-1", "0" })
                                << "ct_recorded_cor_2        -1 0";
    QTest::newRow("quoted path") << "auto_save_data_path" << QStringList({ "D:/my data" })
                                 << "auto_save_data_path      \"D:/my data\"";
    QTest::newRow("path without blanks unquoted")
        << "auto_save_data_path" << QStringList({ "D:/data" })
        << "auto_save_data_path      D:/data";
    QTest::newRow("ideographic space needs no quotes")
        << "auto_save_data_name" << QStringList({ QString("a") + QChar(0x3000) + "b" })
        << QString("auto_save_data_name      a") + QChar(0x3000) + "b";
    QTest::newRow("empty text") << "bg_load" << QStringList({ "" }) << "bg_load                  ";
}

void TestSetupFile::keyColumn()
{
    QFETCH(QString, key);
    QFETCH(QStringList, values);
    QFETCH(QString, line);
    QCOMPARE(SetupFile::formatLine(Item { key, values }), line);
}

void TestSetupFile::layout()
{
    const QString path = tmp.filePath("layout.cfg");
    const QStringList t = SetupFile::sectionTitles();
    QVERIFY(SetupFile::write(path,
        { { t[0], { Item::flag("images_keep_setup", false) } },
            { t[1], { Item::real("ct_cor", 1023.5) } }, { t[2], {} },
            { t[3], { Item::flag("add_inf_show", true) } } }));
    QCOMPARE(readAll(path),
        QString("### vorlo2 setup saving setup file\n"
                "\n## Original Images\n\n"
                "images_keep_setup        0\n"
                "\n## CT Reconstruction setting\n\n"
                "ct_cor                   1023.5\n"
                "\n## CT Reconstruction calculation\n\n"
                "\n## Additional Settings for CT-XAFS\n\n"
                "add_inf_show             1\n"));

    // Saving again replaces the file.
    QVERIFY(SetupFile::write(path, {}));
    QCOMPARE(readAll(path), QString("### vorlo2 setup saving setup file\n"));
}

void TestSetupFile::roundTrip()
{
    const QString path = tmp.filePath("round.cfg");
    const QVector<Section> setup = sampleSetup();
    QVERIFY(SetupFile::write(path, setup));

    QVector<BatchCmd> cmds;
    QVERIFY(SetupFile::read(path, cmds));

    // Header, titles and empty lines come back as commands that match nothing.
    QCOMPARE(cmds.first().cmd, QString("###"));
    QVector<BatchCmd> keyed;
    for (const BatchCmd &c : cmds) {
        if (c.cmd.isEmpty() || c.cmd == "##" || c.cmd == "###")
            continue;
        keyed << c;
    }

    QVector<Item> written;
    for (const Section &s : setup)
        written += s.items;
    QCOMPARE(keyed.size(), written.size());
    for (int i = 0; i < written.size(); ++i) {
        QCOMPARE(keyed[i].cmd, written[i].key);
        QStringList expected = written[i].values;
        expected.removeAll(QString()); // an empty text reads back as no argument
        QCOMPARE(keyed[i].args, expected);
    }

    // The values the command table will take from them.
    const auto find = [&](const QString &key) {
        for (const BatchCmd &c : keyed)
            if (c.matches(key))
                return c;
        return BatchCmd();
    };
    QCOMPARE(find("ct_cor").realArg(0), 1023.5);
    QCOMPARE(find("fix_color_min").realArg(0), 1e-07);
    QCOMPARE(find("ct_recorded_cor_1").realArg(1), 1020.25);
    QVERIFY(find("auto_save_in_sub_folders_of_energy").flag());
    QCOMPARE(find("auto_save_data_lower_limit").text(), QString("-10"));
    QCOMPARE(find("i0_load").text(), QString("D:/my scan/i0 0001.img"));
    QCOMPARE(find("seq_exec_dir").text(), QString::fromUtf8("D:/測定 データ"));
    QCOMPARE(find("bg_load").text(), QString());
}

void TestSetupFile::filesLine()
{
    // Removing the # from the comment line gives a load command for the set.
    const QString scanDir = tmp.filePath("my scan");
    const Item item = Item::dirAndSuffix("#images_load", scanDir + "/a0001.img");
    QCOMPARE(item.values, QStringList({ scanDir, "*.img" }));
    const QString line = SetupFile::formatLine(item);
    QCOMPARE(line, padRight("#images_load", 25) + "\"" + scanDir + "\" *.img");
    const BatchCmd load(line.mid(1));
    QCOMPARE(load.cmd, QString("images_load"));
    QCOMPARE(load.args, QStringList({ scanDir, "*.img" }));
}

void TestSetupFile::failures()
{
    const QString noDir = tmp.filePath("no/such/dir/setup.cfg");
    QTest::ignoreMessage(QtDebugMsg, qPrintable("can't open save setup file : \"" + noDir + "\""));
    QVERIFY(!SetupFile::write(noDir, sampleSetup()));
    QVERIFY(!QFile::exists(noDir));

    QVector<BatchCmd> cmds { BatchCmd("kept 1") };
    QTest::ignoreMessage(QtDebugMsg, qPrintable("can't open save setup file : \"" + noDir + "\""));
    QVERIFY(!SetupFile::read(noDir, cmds));
    QCOMPARE(cmds.size(), 1);
    QCOMPARE(cmds.first().cmd, QString("kept"));

    // A directory where the file should be: refused, the directory stays.
    const QString dir = tmp.filePath("adir");
    QVERIFY(QDir().mkpath(dir));
    QTest::ignoreMessage(QtDebugMsg, qPrintable("can't open save setup file : \"" + dir + "\""));
    QVERIFY(!SetupFile::write(dir, sampleSetup()));
    QVERIFY(QFileInfo(dir).isDir());
}

VORLO_TEST(TestSetupFile)
#include "test_setup_file.moc"
