#include "tests/test_registry.h"
#include "xafs/xafs_scan_file.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {
const double d311 = 3.13551;

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &text)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return QString();
    f.write(text);
    return path;
}

double bragg(double thetaDeg)
{
    return 12398.424360387684 / (2.0 * std::sin(thetaDeg / 180.0 * 3.1415926535) * d311);
}
} // namespace

class XafsScanFileTest : public QObject {
    Q_OBJECT
private slots:
    void i0ColumnFromModeLine_data();
    void i0ColumnFromModeLine();
    void energyFromAngle();
    void malformedFilesRefused_data();
    void malformedFilesRefused();
    void missingFile();
    void failedReadDropsEarlierData();
    void i0At_data();
    void i0At();

private:
    QTemporaryDir tmp;
};

// Four data lines; columns: 0 index, 1 theta, 2 time, 3..6 counters.
// Column 4 holds 100 * (line + 1), column 6 holds 1000 * (line + 1).
static QByteArray scanWithMode(const QByteArray &modeLine)
{
    QByteArray s = "9809     AichiSR      BL5S1\n"
                   "Ring Current    300.0mA\n";
    s += modeLine + "\n";
    s += "Offset      0    0    0    0    0    0\n";
    for (int i = 0; i < 4; ++i) {
        const double theta = 15.0 - 0.1 * i;
        s += QByteArray::number(i) + "  " + QByteArray::number(theta, 'f', 4) + "  2.0  " + "7  "
            + QByteArray::number(100 * (i + 1)) + "  9   " + QByteArray::number(1000 * (i + 1))
            + "\n";
    }
    return s;
}

void XafsScanFileTest::i0ColumnFromModeLine_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<double>("firstRate");

    // The last 1 wins: column 6 holds 1000 counts in 2 s.
    QTest::newRow("last one of 0 0 0 1 0 1") << QByteArray("Mode  0 0 0 1 0 1") << true << 500.0;
    QTest::newRow("single one at column 4") << QByteArray("Mode 0 0 0 1 0 0") << true << 50.0;
    QTest::newRow("only one at column 2 is too low")
        << QByteArray("Mode 0 1 0 0 0 0") << false << 0.0;
    QTest::newRow("no one at all") << QByteArray("Mode 0 0 0 0 0 0") << false << 0.0;
    QTest::newRow("tabs and runs of blanks")
        << QByteArray("  Mode\t0  0\t\t0 1 0 0  ") << true << 50.0;
    QTest::newRow("\"01\" reads as 1") << QByteArray("Mode 0 0 0 01 0 0") << true << 50.0;
    QTest::newRow("no Mode line") << QByteArray("Comment 0 0 0 1 0 1") << false << 0.0;
}

void XafsScanFileTest::i0ColumnFromModeLine()
{
    QFETCH(QByteArray, mode);
    QFETCH(bool, valid);
    QFETCH(double, firstRate);

    const QString path = writeFile(tmp, "mode.dat", scanWithMode(mode));
    if (!valid)
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("Mode line"));
    XafsScanFile f;
    QCOMPARE(f.read(path, d311), valid);
    QCOMPARE(f.valid, valid);
    if (!valid) {
        QVERIFY(f.energies.isEmpty());
        QVERIFY(f.i0Rates.isEmpty());
        return;
    }
    QCOMPARE(f.energies.size(), 4);
    QCOMPARE(f.i0Rates.size(), 4);
    QCOMPARE(f.i0Rates[0], firstRate);
    QCOMPARE(f.i0Rates[3], 4 * firstRate);
}

void XafsScanFileTest::energyFromAngle()
{
    QVERIFY(std::abs(XafsScanFile::energyOfAngle(15.0, d311) - 7638.9) < 0.1);

    const QString path = writeFile(tmp, "angle.dat", scanWithMode("Mode 0 0 0 1 0 0"));
    XafsScanFile f;
    QVERIFY(f.read(path, d311));
    QCOMPARE(f.latticeSpacing, d311);
    QVERIFY(std::abs(f.energies[0] - 7638.9) < 0.1);
    // Angles decrease line by line, so energies increase.
    for (int i = 0; i < 4; ++i)
        QVERIFY(std::abs(f.energies[i] - bragg(15.0 - 0.1 * i)) < 1e-6);
    QVERIFY(f.energies[3] > f.energies[0]);
    // The spacing enters inversely.
    XafsScanFile g;
    QVERIFY(g.read(path, 2.0 * d311));
    QVERIFY(std::abs(g.energies[0] * 2.0 - f.energies[0]) < 1e-9);
}

void XafsScanFileTest::malformedFilesRefused_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("log");

    QTest::newRow("empty file") << QByteArray() << "Mode line";
    QTest::newRow("cut inside the header")
        << QByteArray("9809 AichiSR\nMode 0 0 0 1 0 0\n") << "Offset";
    QTest::newRow("one data line only")
        << QByteArray("Mode 0 0 0 1\nOffset 0 0 0 0\n1 15.0 1.0 10 20\n") << "fewer than two";
    QTest::newRow("data lines too short for the I0 column")
        << QByteArray("Mode 0 0 0 0 0 1\nOffset\n1 15.0 1.0 10\n2 14.9 1.0 10\n")
        << "fewer than two";
    QTest::newRow("cut in the second data line")
        << QByteArray("Mode 0 0 0 1\nOffset\n1 15.0 1 7 10\n2 14.9 1") << "without the I0 column";
    QTest::newRow("zero counting time")
        << QByteArray("Mode 0 0 0 1\nOffset\n1 15.0 0 7 10\n2 14.9 0 7 10\n3 14.8 1 7 10\n")
        << "without usable angle or time";
    QTest::newRow("angle not a number")
        << QByteArray("Mode 0 0 0 1\nOffset\n1 x 1 7 10\n2 y 1 7 10\n") << "without usable angle";
    QTest::newRow("binary garbage")
        << QByteArray("\x00\x01\x02\xff\xfe\n\x89PNG\r\n", 12) << "Mode line";
}

void XafsScanFileTest::malformedFilesRefused()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, log);

    const QString path = writeFile(tmp, "bad.dat", text);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QRegularExpression::escape(log)));
    XafsScanFile f;
    QVERIFY(!f.read(path, d311));
    QVERIFY(!f.valid);
    QVERIFY(f.energies.isEmpty());
    QVERIFY(f.i0Rates.isEmpty());
}

void XafsScanFileTest::missingFile()
{
    const QString path = tmp.filePath("no/such/scan.dat");
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't open : .*scan\\.dat"));
    XafsScanFile f;
    QVERIFY(!f.read(path, d311));
    QVERIFY(!f.valid);
    QCOMPARE(f.i0At(7000), 1.0);
}

void XafsScanFileTest::failedReadDropsEarlierData()
{
    // After a failed read nothing of the earlier file may still be served as
    // if it belonged to the new one.
    XafsScanFile f;
    QVERIFY(f.read(writeFile(tmp, "good.dat", scanWithMode("Mode 0 0 0 1 0 0")), d311));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't open"));
    QVERIFY(!f.read(tmp.filePath("gone.dat"), d311));
    QVERIFY(!f.valid);
    QVERIFY(f.energies.isEmpty());
    QCOMPARE(f.i0At(7700), 1.0);
}

void XafsScanFileTest::i0At_data()
{
    QTest::addColumn<QList<double>>("e");
    QTest::addColumn<QList<double>>("r");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("expected");

    const QList<double> e2 { 7000, 7100 };
    const QList<double> r2 { 10, 20 };
    QTest::newRow("inside") << e2 << r2 << 7050.0 << 15.0;
    QTest::newRow("above: last segment") << e2 << r2 << 7150.0 << 25.0;
    QTest::newRow("below: first segment") << e2 << r2 << 6950.0 << 5.0;
    QTest::newRow("at the first point") << e2 << r2 << 7000.0 << 10.0;
    QTest::newRow("at the last point") << e2 << r2 << 7100.0 << 20.0;
    QTest::newRow("same energy twice: mean")
        << QList<double> { 7000, 7000 } << r2 << 7000.0 << 15.0;
    const QList<double> e3 { 7000, 7100, 7300 };
    const QList<double> r3 { 10, 20, 0 };
    QTest::newRow("second segment") << e3 << r3 << 7200.0 << 10.0;
    QTest::newRow("beyond three points") << e3 << r3 << 7400.0 << -10.0;
    QTest::newRow("one point") << QList<double> { 7000 } << QList<double> { 42 } << 9000.0 << 42.0;
    QTest::newRow("no points") << QList<double> {} << QList<double> {} << 7000.0 << 1.0;
}

void XafsScanFileTest::i0At()
{
    QFETCH(QList<double>, e);
    QFETCH(QList<double>, r);
    QFETCH(double, x);
    QFETCH(double, expected);
    XafsScanFile f;
    f.energies = e;
    f.i0Rates = r;
    QCOMPARE(f.i0At(x), expected);
}

VORLO_TEST(XafsScanFileTest)
#include "xafs_scan_file_test.moc"
