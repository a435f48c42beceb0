#include "app/config_store.h"
#include "tests/test_registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

void writeText(const QString &path, const QString &text)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Text), qPrintable(path));
    f.write(text.toUtf8());
}

ConfigStore fromArgs(const QStringList &args)
{
    ConfigStore cs;
    cs.parseArguments(args);
    return cs;
}

} // namespace

class TestConfigStore : public QObject {
    Q_OBJECT
private slots:
    void commandLineValues();
    void configFileName_data();
    void configFileName();
    void startFlags();
    void dataRoot();
    void setKeepsPositionAndCase();
    void readFileKeysAndLines();
    void readFileQuotedValues();
    void includeInAnyCase();
    void missingFiles();
    void includeCycle();
    void argvEncoding();

private:
    QTemporaryDir tmp;
};

void TestConfigStore::commandLineValues()
{
    const ConfigStore cs = fromArgs(
        { "vorlo2", "stray", "-c", "a.cfg", "more", "words", "-e", "-b", "", "-d", "D:/data" });
    QVERIFY(!cs.contains("vorlo2"));
    QVERIFY(!cs.contains("stray"));
    QCOMPARE(cs.value("-c"), QString("a.cfg"));
    QCOMPARE(cs.restNoCase("-c"), QString("a.cfg more words"));
    QVERIFY(cs.contains("-e"));
    QCOMPARE(cs.value("-e", "unset"), QString()); // present, so its empty value wins
    // An empty argument is no option, but it is the value that follows "-b".
    QVERIFY(cs.contains("-b"));
    QCOMPARE(cs.value("-b", "unset"), QString());
    QCOMPARE(cs.value("-d"), QString("D:/data"));
    QCOMPARE(cs.value("-x", "unset"), QString("unset"));
    QVERIFY(!cs.contains("-C")); // option names are case-sensitive

    // A repeated option replaces the earlier value but keeps its place.
    const ConfigStore rep = fromArgs({ "p", "-d", "one", "-e", "-d", "two" });
    QCOMPARE(rep.value("-d"), QString("two"));
    QCOMPARE(rep.entries().first().key, QString("-d"));
}

void TestConfigStore::configFileName_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("name");
    QTest::newRow("none") << QStringList({ "p" }) << "config.cfg";
    QTest::newRow("-c") << QStringList({ "p", "-c", "a.cfg" }) << "a.cfg";
    QTest::newRow("-config wins") << QStringList({ "p", "-c", "a.cfg", "-config", "b.cfg" })
                                  << "b.cfg";
    QTest::newRow("-config wins when first")
        << QStringList({ "p", "-config", "b.cfg", "-c", "a.cfg" }) << "b.cfg";
    QTest::newRow("-c without value") << QStringList({ "p", "-c", "-e" }) << "config.cfg";
    QTest::newRow("-config without value keeps -c")
        << QStringList({ "p", "-c", "a.cfg", "-config" }) << "a.cfg";
}

void TestConfigStore::configFileName()
{
    QFETCH(QStringList, args);
    QFETCH(QString, name);
    QCOMPARE(fromArgs(args).configFileName(), name);
}

void TestConfigStore::startFlags()
{
    StartFlags f = fromArgs({ "p" }).startFlags();
    QVERIFY(!f.noTranslation && !f.loadBatch && !f.execBatch && !f.noWindow);

    f = fromArgs({ "p", "-nw", "-b" }).startFlags();
    QVERIFY(f.noWindow);
    QVERIFY(f.loadBatch);
    QVERIFY(!f.execBatch);
    QCOMPARE(f.batchFile, QString("batchFile.bat"));

    f = fromArgs({ "p", "-b", "run.bat", "-x", "-e" }).startFlags();
    QVERIFY(f.loadBatch && f.execBatch && f.noTranslation);
    QCOMPARE(f.batchFile, QString("run.bat"));

    f = fromArgs({ "p", "-x" }).startFlags();
    QVERIFY(f.execBatch && !f.loadBatch);
}

void TestConfigStore::dataRoot()
{
    QCOMPARE(fromArgs({ "p" }).dataRootFor("/home"), QString("/home"));
    ConfigStore cs = fromArgs({ "p", "-d" });
    cs.set("DataRoot", "/beam/data", " /beam/data");
    QCOMPARE(cs.dataRootFor("/home"), QString("/beam/data")); // "-d" without value
    cs.set("-d", "/override", "/override");
    QCOMPARE(cs.dataRootFor("/home"), QString("/override"));

    ConfigStore lower;
    lower.set("dataroot", "X", " X");
    QCOMPARE(lower.dataRootFor("/home"), QString("/home"));
}

void TestConfigStore::setKeepsPositionAndCase()
{
    ConfigStore cs;
    cs.set("DataRoot", "first", " first");
    cs.set("Other", "o", " o");
    cs.set("DATAROOT", "second", " second");
    QCOMPARE(cs.value("DataRoot"), QString("first"));
    QCOMPARE(cs.value("DATAROOT"), QString("second"));
    QCOMPARE(cs.restNoCase("dataroot"), QString(" second"));
    QCOMPARE(cs.restNoCase("missing", "def"), QString("def"));

    cs.set("DataRoot", "third", " third");
    QCOMPARE(cs.entries().size(), 3);
    QCOMPARE(cs.entries().at(0).key, QString("DataRoot"));
    QCOMPARE(cs.entries().at(0).value, QString("third"));
    QCOMPARE(cs.restNoCase("DATAroot"), QString(" third"));
}

void TestConfigStore::readFileKeysAndLines()
{
    const QString path = tmp.filePath("keys.cfg");
    writeText(path,
        "# a comment line\n"
        "   \n"
        "\t# indented comment\n"
        "key value # note\n"
        "ct_cor   1023.5\r\n"
        "2DZELKOV  localhost 6078\n"
        "dataroot X\n"
        "flagonly\n");
    ConfigStore cs;
    QVERIFY(cs.readFile(path));
    QCOMPARE(cs.fileName(), path);
    QCOMPARE(cs.lines(),
        QStringList({ "key value ", "ct_cor   1023.5", "2DZELKOV  localhost 6078", "dataroot X",
            "flagonly" }));
    QCOMPARE(cs.value("key"), QString("value"));
    QCOMPARE(cs.value("ct_cor"), QString("1023.5"));
    QCOMPARE(cs.restNoCase("2dZelkov"), QString("  localhost 6078"));
    QVERIFY(cs.contains("flagonly"));
    QCOMPARE(cs.value("flagonly", "def"), QString());
    QCOMPARE(cs.dataRootFor("/home"), QString("/home"));
}

void TestConfigStore::readFileQuotedValues()
{
    const QString quoted = tmp.filePath("quoted.cfg");
    writeText(quoted,
        "DataRoot \"D:/my data\"\n"
        "tag \"a # b\" # real comment\n");
    ConfigStore cs;
    QVERIFY(cs.readFile(quoted));
    QCOMPARE(cs.dataRootFor("/home"), QString("D:/my data"));
    QCOMPARE(cs.value("tag"), QString("a # b"));
    QCOMPARE(cs.lines().last(), QString("tag \"a # b\" "));

    const QString bare = tmp.filePath("bare.cfg");
    writeText(bare, "DataRoot D:/my data\n");
    ConfigStore cs2;
    QVERIFY(cs2.readFile(bare));
    QCOMPARE(cs2.dataRootFor("/home"), QString("D:/my"));
    QCOMPARE(cs2.restNoCase("DataRoot"), QString(" D:/my data"));
}

void TestConfigStore::includeInAnyCase()
{
    const QString inner = tmp.filePath("inner.cfg");
    const QString deeper = tmp.filePath("deeper.cfg");
    const QString outer = tmp.filePath("outer.cfg");
    writeText(deeper, "d 4\n");
    writeText(inner, "b 2\nInclude \"" + deeper + "\"\nshared inner\n");
    writeText(outer, "a 1\ninclude " + inner + "\nc 3\nINCLUDE " + deeper + "\n");
    ConfigStore cs;
    QVERIFY(cs.readFile(outer));
    QCOMPARE(cs.lines(),
        QStringList({ "a 1", "include " + inner, "b 2", "Include \"" + deeper + "\"", "d 4",
            "shared inner", "c 3", "INCLUDE " + deeper, "d 4" }));
    QCOMPARE(cs.value("b"), QString("2"));
    QCOMPARE(cs.value("d"), QString("4"));
    QVERIFY(!cs.contains("include"));
    QVERIFY(!cs.contains("INCLUDE"));
    // Entries from the included file come before the including file's next line.
    QStringList keys;
    for (const auto &e : cs.entries())
        keys << e.key;
    QCOMPARE(keys, QStringList({ "a", "b", "d", "shared", "c" }));
}

void TestConfigStore::missingFiles()
{
    const QString none = tmp.filePath("none.cfg");
    ConfigStore cs;
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Can't open config file : \"" + none + "\""));
    QVERIFY(!cs.readFile(none));
    QCOMPARE(cs.fileName(), QString());
    QVERIFY(cs.lines().isEmpty());

    // A missing include is reported and reading goes on with the next line.
    const QString outer = tmp.filePath("with_missing.cfg");
    writeText(outer, "a 1\nINCLUDE " + none + "\nb 2\n");
    QTest::ignoreMessage(QtDebugMsg, qPrintable("Can't open config file : \"" + none + "\""));
    QVERIFY(cs.readFile(outer));
    QCOMPARE(cs.value("b"), QString("2"));
    QCOMPARE(cs.lines().size(), 3);
}

void TestConfigStore::includeCycle()
{
    const QString a = tmp.filePath("cycle_a.cfg");
    const QString b = tmp.filePath("cycle_b.cfg");
    const QString self = tmp.filePath("self.cfg");
    writeText(a, "a 1\nINCLUDE " + b + "\nafter_a 1\n");
    writeText(b, "b 1\nINCLUDE " + a + "\nafter_b 1\n");
    writeText(self, "s 1\nINCLUDE self.cfg\nafter_s 1\n");

    ConfigStore cs;
    QTest::ignoreMessage(QtDebugMsg,
        qPrintable("Config file is already being read, include refused : \"" + a + "\""));
    QVERIFY(cs.readFile(a));
    QCOMPARE(cs.lines(),
        QStringList({ "a 1", "INCLUDE " + b, "b 1", "INCLUDE " + a, "after_b 1", "after_a 1" }));

    // Reading a file again later is no cycle; only its own include back is.
    QTest::ignoreMessage(QtDebugMsg,
        qPrintable("Config file is already being read, include refused : \"" + b + "\""));
    QVERIFY(cs.readFile(b));
    QCOMPARE(cs.lines().size(), 6 + 6);

    // A relative self-include is recognised through the canonical path.
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(tmp.path());
    ConfigStore s;
    QTest::ignoreMessage(QtDebugMsg,
        "Config file is already being read, include refused : "
        "\"self.cfg\"");
    const bool ok = s.readFile(self);
    QDir::setCurrent(cwd);
    QVERIFY(ok);
    QVERIFY(s.contains("after_s"));
    QCOMPARE(s.lines().size(), 3);
}

void TestConfigStore::argvEncoding()
{
    QByteArray a0 = "vorlo2", a1 = "-d", a2 = "/data/測定";
    char *argv[] = { a0.data(), a1.data(), a2.data() };
    ConfigStore cs;
    cs.parseCommandLine(3, argv);
    QCOMPARE(cs.value("-d"), QString::fromUtf8("/data/測定"));
}

VORLO_TEST(TestConfigStore)
#include "test_config_store.moc"
