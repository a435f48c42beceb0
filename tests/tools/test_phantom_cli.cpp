// The command line of vorlo2-phantom: what it accepts, what it refuses with
// exit code 2, and the program itself run as a user runs it.
#include "tests/test_registry.h"
#include "tools/phantom_cli.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

class PhantomCliTest : public QObject {
    Q_OBJECT

    QString tool() const
    {
        return QDir(QCoreApplication::applicationDirPath()).filePath("vorlo2-phantom");
    }

private slots:
    void refusesBadOptions_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("reason");
        const QStringList out { "--out", "/tmp/never-written" };
        QTest::newRow("nothing") << QStringList {} << "no command";
        QTest::newRow("unknown command") << QStringList { "scna" } + out << "unknown command";
        QTest::newRow("unknown option")
            << QStringList { "scan", "--widht", "64" } + out << "unknown option";
        QTest::newRow("xafs option to scan")
            << QStringList { "scan", "--kev" } + out << "unknown option";
        QTest::newRow("missing value") << QStringList { "scan", "--out" } << "needs a value";
        QTest::newRow("no output") << QStringList { "scan" } << "--out DIR is required";
        QTest::newRow("width not a number")
            << QStringList { "scan", "--width", "6x4" } + out << "bad value";
        QTest::newRow("width too small")
            << QStringList { "scan", "--width", "8" } + out << "width must be";
        QTest::newRow("height 0") << QStringList { "scan", "--height", "0" } + out
                                  << "height must be";
        QTest::newRow("one projection")
            << QStringList { "scan", "--projections", "1" } + out << "projections must be";
        QTest::newRow("bpp 3") << QStringList { "scan", "--bpp", "3" } + out << "bytes per pixel";
        QTest::newRow("centre at the edge")
            << QStringList { "scan", "--cor", "250" } + out << "centre of rotation";
        QTest::newRow("negative centre")
            << QStringList { "scan", "--cor", "-3" } + out << "bad value";
        QTest::newRow("centre nan") << QStringList { "scan", "--cor", "nan" } + out << "bad value";
        QTest::newRow("negative mu") << QStringList { "scan", "--mu", "-0.1" } + out << "bad value";
        QTest::newRow("beam beyond 16 bits")
            << QStringList { "scan", "--i0", "50000" } + out << "exceed the range";
        QTest::newRow("huge scan") << QStringList {
            "scan", "--width", "8192", "--height", "8192", "--projections", "7200"
        } + out << "64 GiB";
        QTest::newRow("energy not a number")
            << QStringList { "xafs", "--energies", "7100,71l0" } + out << "bad value";
        QTest::newRow("same energy twice")
            << QStringList { "xafs", "--energies", "7100,7100.0" } + out << "same file name";
        QTest::newRow("sample with a dash")
            << QStringList { "xafs", "--sample", "Fe-foil" } + out << "sample name";
        QTest::newRow("sample with a separator")
            << QStringList { "xafs", "--sample", "a/b" } + out << "sample name";
    }
    void refusesBadOptions()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, reason);
        PhantomCommand cmd;
        const QString problem = parsePhantomArgs(args, cmd);
        QVERIFY2(problem.contains(reason), qPrintable(problem));
        QString outText, errText;
        QTextStream out(&outText), err(&errText);
        QCOMPARE(runPhantomTool(args, out, err), 2);
        QVERIFY(errText.contains(reason));
        QVERIFY(outText.isEmpty());
        QVERIFY(!QFile::exists("/tmp/never-written"));
    }

    void acceptsOptions()
    {
        PhantomCommand cmd;
        QCOMPARE(
            parsePhantomArgs({ "scan", "--out", "d", "--width", "100", "--height", "10",
                                 "--projections", "30", "--cor", "50.5", "--bpp", "4", "--noise",
                                 "--seed", "7", "--mu", "0.02", "--i0", "1e5", "--bg", "150" },
                cmd),
            QString());
        QCOMPARE(cmd.kind, PhantomCommand::Scan);
        QCOMPARE(cmd.outDir, QString("d"));
        QCOMPARE(cmd.scan.width, 100);
        QCOMPARE(cmd.scan.height, 10);
        QCOMPARE(cmd.scan.projections, 30);
        QCOMPARE(cmd.scan.cor, 50.5);
        QCOMPARE(cmd.scan.bytesPerPixel, 4);
        QVERIFY(cmd.scan.noise);
        QCOMPARE(cmd.scan.seed, quint64(7));
        QCOMPARE(cmd.scan.bodyMu, 0.02);
        QCOMPARE(cmd.scan.i0Counts, 1e5);
        QCOMPARE(cmd.scan.bgCounts, 150.0);

        QCOMPARE(parsePhantomArgs({ "xafs", "--out", "d", "--energies", "7100, 7112.5,7150",
                                      "--edge", "7112", "--sample", "FeOx", "--kev" },
                     cmd),
            QString());
        QCOMPARE(cmd.kind, PhantomCommand::Xafs);
        QCOMPARE(cmd.xafs.energies, (QVector<double> { 7100, 7112.5, 7150 }));
        QCOMPARE(cmd.xafs.sample, QString("FeOx"));
        QVERIFY(cmd.xafs.keV);
        QCOMPARE(parsePhantomArgs({ "xafs", "--help" }, cmd), QString());
        QCOMPARE(cmd.kind, PhantomCommand::Help);
    }

    // The program itself: help, a refusal, a small scan listed as written,
    // and a directory it cannot make.
    void runsAsAProgram()
    {
        QVERIFY2(QFile::exists(tool()), qPrintable(tool()));
        QProcess p;
        p.start(tool(), { "--help" });
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 0);
        const QString help = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY(help.contains("vorlo2-phantom scan --out DIR"));
        QVERIFY(help.contains("2 * M * mu"));

        p.start(tool(), { "scan", "--bpp", "8", "--out", "x" });
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("bytes per pixel"));

        QTemporaryDir dir;
        const QString out = dir.filePath("scan");
        p.start(tool(),
            { "scan", "--out", out, "--width", "32", "--height", "3", "--projections", "10" });
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QString listing = QString::fromUtf8(p.readAllStandardOutput());
        for (const char *name : { "I0.img", "BG.img", "proj_00000.img", "proj_00009.img" }) {
            const QString path = QDir(out).filePath(name);
            QVERIFY2(listing.contains("wrote " + path), qPrintable(listing));
            QVERIFY(QFile::exists(path));
        }
        QVERIFY(!QFile::exists(QDir(out).filePath("proj_00010.img")));
        QCOMPARE(QDir(out).entryList(QDir::Files).size(), 12);

        p.start(tool(),
            { "scan", "--out", QDir(out).filePath("I0.img") + "/sub", "--width", "32", "--height",
                "3", "--projections", "10" });
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 1);
        QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("Can not make"));
    }
};

VORLO_TEST(PhantomCliTest)
#include "test_phantom_cli.moc"
