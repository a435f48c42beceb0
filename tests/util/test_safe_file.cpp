// Whole-or-nothing file writing: a complete write replaces the file in one
// step; a write that fails on the way (file-size limit, missing folder, a
// folder in the file's place) leaves the earlier file and no temporary file.
#include "tests/test_registry.h"
#include "util/safe_file.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
}

// Limits the size of files this process may write while it lives, as a full
// quota would; writes beyond it fail with EFBIG instead of a signal.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &saved);
        oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = saved;
        lim.rlim_cur = bytes;
        ok = setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
    }
    bool ok = false;

private:
    rlimit saved {};
    void (*oldHandler)(int) = nullptr;
};

} // namespace

class TestSafeFile : public QObject {
    Q_OBJECT
private slots:
    void writesAndReplacesWhole()
    {
        QTemporaryDir tmp;
        const QString path = tmp.filePath("r.dat");
        QVERIFY(writeWholeFile(path, "first"));
        QCOMPARE(readAll(path), QByteArray("first"));
        QByteArray big(3 << 20, 'x');
        big[12345] = 'y';
        QVERIFY(writeWholeFile(path, big));
        QCOMPARE(readAll(path), big);
        // An empty file is a valid result.
        QVERIFY(writeWholeFile(tmp.filePath("empty.dat"), QByteArray()));
        QCOMPARE(QFileInfo(tmp.filePath("empty.dat")).size(), 0);
        QCOMPARE(entries(tmp.path()), QStringList({ "empty.dat", "r.dat" }));
    }

    void failedWriteKeepsTheEarlierFile()
    {
        QTemporaryDir tmp;
        const QString path = tmp.filePath("r.dat");
        QVERIFY(writeWholeFile(path, "earlier result"));
        {
            FileSizeLimit limit(4096);
            QVERIFY(limit.ok);
            QTest::ignoreMessage(
                QtDebugMsg, qPrintable(QStringLiteral("Can't write file :  \"%1\"").arg(path)));
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^  reason : File too large"));
            QString why;
            QVERIFY(!writeWholeFile(path, QByteArray(100000, 'z'), &why));
            QVERIFY(!why.isEmpty());
        }
        QCOMPARE(readAll(path), QByteArray("earlier result"));
        // The cut temporary file is gone as well.
        QCOMPARE(entries(tmp.path()), QStringList({ "r.dat" }));
    }

    void impossibleTargets()
    {
        QTemporaryDir tmp;
        const QString missing = tmp.filePath("no/such/r.dat");
        QTest::ignoreMessage(
            QtDebugMsg, qPrintable(QStringLiteral("Can't write file :  \"%1\"").arg(missing)));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^  reason : "));
        QVERIFY(!writeWholeFile(missing, "x"));

        // A folder where the file should go: it stays, nothing else appears.
        const QString dir = tmp.filePath("taken.dat");
        QVERIFY(QDir().mkdir(dir));
        QVERIFY(writeWholeFile(dir + "/inside.txt", "x"));
        QTest::ignoreMessage(
            QtDebugMsg, qPrintable(QStringLiteral("Can't write file :  \"%1\"").arg(dir)));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^  reason : "));
        QVERIFY(!writeWholeFile(dir, "x"));
        QVERIFY(QFileInfo(dir).isDir());
        QCOMPARE(entries(tmp.path()), QStringList({ "taken.dat" }));

        QTest::ignoreMessage(QtDebugMsg, "Can't write file :  \"\"");
        QTest::ignoreMessage(QtDebugMsg, "  reason : no file name");
        QVERIFY(!writeWholeFile(QString(), "x"));
    }

    void partialNames()
    {
        QVERIFY(isPartialFileName("ct-a-00001.dat.k3x9.part"));
        QVERIFY(!isPartialFileName("ct-a-00001.dat"));
        QVERIFY(!isPartialFileName("part"));
    }
};

VORLO_TEST(TestSafeFile)
#include "test_safe_file.moc"
