#include "tests/test_registry.h"
#include "xafs/xafs_scan_file.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/types.h>

// Scan files come from wherever the user points the I0 panel; what is not a
// regular file of bounded size must be refused at once with a log line,
// without blocking, without reading for ever and without losing the table
// read before.
class RobustXafsTest : public QObject {
    Q_OBJECT
private slots:
    void nonRegularFilesRefused_data();
    void nonRegularFilesRefused();
    void oversizedSparseFileRefused();

private:
    QTemporaryDir tmp;
    static QByteArray goodScan();
    bool readGood(XafsScanFile &s);
};

QByteArray RobustXafsTest::goodScan()
{
    QByteArray s = "9809     AichiSR      BL5S1\n"
                   "Mode         0    0    1\n"
                   "Offset       0    0    0\n";
    for (int i = 0; i < 4; ++i)
        s += QByteArray::number(i) + "  " + QByteArray::number(15.0 - 0.1 * i, 'f', 4) + "  2.0  "
            + QByteArray::number(1000 * (i + 1)) + "\n";
    return s;
}

bool RobustXafsTest::readGood(XafsScanFile &s)
{
    const QString path = tmp.filePath("good.dat");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(goodScan());
    f.close();
    return s.read(path, 3.13551) && s.energies.size() == 4;
}

void RobustXafsTest::nonRegularFilesRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("named pipe") << "fifo";
    QTest::newRow("endless device") << "/dev/zero";
    QTest::newRow("directory") << "dir";
}

void RobustXafsTest::nonRegularFilesRefused()
{
    QFETCH(QString, kind);
    QVERIFY(tmp.isValid());
    QString path = kind;
    if (kind == "fifo") {
        path = tmp.filePath("scan.fifo");
        QFile::remove(path);
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == "dir") {
        path = tmp.path();
    }

    XafsScanFile s;
    QVERIFY(readGood(s));
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("not a regular file, refused"));
    // With a blocking open or an endless read this call would never return
    // and the test would hit the watchdog.
    QVERIFY(!s.read(path, 3.13551));
    QVERIFY(!s.valid);
    QVERIFY(s.energies.isEmpty());
    QVERIFY(s.i0Rates.isEmpty());
    // The object stays usable for the next good file.
    QVERIFY(readGood(s));
}

void RobustXafsTest::oversizedSparseFileRefused()
{
    QVERIFY(tmp.isValid());
    const QString path = tmp.filePath("huge.dat");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(goodScan());
    // Sparse: takes no disk space but reports a size beyond the bound.
    QVERIFY(f.resize(XafsScanFile::maxFileSize + 4096));
    f.close();

    XafsScanFile s;
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("too large, refused"));
    QVERIFY(!s.read(path, 3.13551));
    QVERIFY(!s.valid);
    QVERIFY(s.energies.isEmpty());
}

VORLO_TEST(RobustXafsTest)
#include "test_robust_xafs.moc"
