// Hostile image files beside good ones: every bad file is logged and refused,
// the stack keeps going, and the good images around it are complete.
#include "image/img_datas.h"
#include "tests/image/test_images.h"
#include "tests/test_registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testimg;

namespace {

std::vector<quint16> ramp(int w, int h, int tag)
{
    std::vector<quint16> v;
    for (int k = 0; k < w * h; ++k)
        v.push_back(quint16(tag * 100 + k));
    return v;
}

// A little-endian TIFF directory with one strip whose header states the size;
// the strip holds only stripBytes bytes, whatever the size says.
QByteArray tiffClaiming(quint32 width, quint32 height, int bits, int stripBytes)
{
    QByteArray out("II*\0", 4);
    const quint32 stripAt = 8;
    const quint32 ifdAt = stripAt + quint32(stripBytes) + (stripBytes & 1);
    char word[4];
    qToLittleEndian<quint32>(ifdAt, word);
    out.append(word, 4);
    out.append(QByteArray(stripBytes, '\x11'));
    if (stripBytes & 1)
        out.append('\0');
    const struct {
        quint16 tag, type;
        quint32 value;
    } entries[] = {
        { 256, 4, width },
        { 257, 4, height },
        { 258, 3, quint32(bits) },
        { 259, 3, 1 },
        { 262, 3, 1 },
        { 273, 4, stripAt },
        { 277, 3, 1 },
        { 278, 4, height },
        { 279, 4, quint32(stripBytes) },
    };
    char two[2];
    qToLittleEndian<quint16>(quint16(std::size(entries)), two);
    out.append(two, 2);
    for (const auto &e : entries) {
        qToLittleEndian<quint16>(e.tag, two);
        out.append(two, 2);
        qToLittleEndian<quint16>(e.type, two);
        out.append(two, 2);
        qToLittleEndian<quint32>(1, word);
        out.append(word, 4);
        if (e.type == 3) {
            qToLittleEndian<quint16>(quint16(e.value), two);
            out.append(two, 2);
            out.append("\0\0", 2);
        } else {
            qToLittleEndian<quint32>(e.value, word);
            out.append(word, 4);
        }
    }
    out.append(QByteArray(4, '\0'));
    return out;
}

// Two good members and one bad file between them; true when the stack holds
// exactly the two good ones with all their pixels.
bool stackSurvives(const QTemporaryDir &dir, const QString &bad, QString &why)
{
    const QString a = dir.filePath(QStringLiteral("good-a.img"));
    const QString b = dir.filePath(QStringLiteral("good-b.img"));
    if (!writeFile(a, itexBytes(sizeComment(6, 4, 2), pixels16(ramp(6, 4, 1))))
        || !writeFile(b, itexBytes(sizeComment(6, 4, 2), pixels16(ramp(6, 4, 2))))) {
        why = QStringLiteral("can not write the good files");
        return false;
    }
    ImgDatas stack;
    if (!stack.add(a)) {
        why = QStringLiteral("first good file refused");
        return false;
    }
    if (stack.add(bad)) {
        why = QStringLiteral("bad file accepted");
        return false;
    }
    if (!stack.add(b) || stack.count() != 2) {
        why = QStringLiteral("second good file refused after the bad one");
        return false;
    }
    double row[6];
    for (int m = 0; m < 2; ++m) {
        for (int y = 0; y < 4; ++y) {
            stack.at(m)->row(y, row);
            for (int x = 0; x < 6; ++x)
                if (row[x] != double((m + 1) * 100 + y * 6 + x)) {
                    why = QStringLiteral("member %1 pixel (%2, %3) is %4")
                              .arg(m)
                              .arg(x)
                              .arg(y)
                              .arg(row[x]);
                    return false;
                }
        }
    }
    return true;
}

} // namespace

class TestRobustImage : public QObject {
    Q_OBJECT
private slots:
    void hostileFilesAreRefused_data();
    void hostileFilesAreRefused();
    void directoryInPlaceOfAFile();
    void unreadableFile();
    void fifoInPlaceOfAFileDoesNotBlock();
    void tiffStackReloadedUnderALowDescriptorLimit();
};

void TestRobustImage::hostileFilesAreRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("logged");

    const QByteArray good = itexBytes(sizeComment(6, 4, 2), pixels16(ramp(6, 4, 3)));
    QTest::newRow("empty file") << QByteArray() << "Unknown file type";
    QTest::newRow("one byte") << QByteArray("I") << "Unknown file type";
    QTest::newRow("binary junk") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)
                                 << "Unknown file type";
    QTest::newRow("ITEX cut in the header") << good.left(7) << "Error on reading ITEX file props.";
    QTest::newRow("ITEX cut in the comment")
        << good.left(70) << "ITEX file ends inside its comment.";
    QTest::newRow("ITEX cut in the pixels")
        << good.left(good.size() - 1) << "ITEX pixel block is shorter than the image size";
    QTest::newRow("ITEX of 2^31-1 squared") << itexBytes(
        "Prop_ImageWidth=2147483647,Prop_ImageHeight=2147483647,BytesPerPixel=4,",
        pixels16(ramp(6, 4, 3))) << "ITEX pixel block is shorter than the image size";
    QTest::newRow("ITEX width beyond 32 bits") << itexBytes(
        "Prop_ImageWidth=4294967302,Prop_ImageHeight=4,BytesPerPixel=2,", pixels16(ramp(6, 4, 3)))
                                               << "File is not ready to access";
    QTest::newRow("ITEX zero width") << itexBytes(sizeComment(0, 4, 2), pixels16(ramp(6, 4, 3)))
                                     << "File is not ready to access";
    QTest::newRow("ITEX negative height") << itexBytes(sizeComment(6, -4, 2),
        pixels16(ramp(6, 4, 3))) << "File is not ready to access";
    QTest::newRow("ITEX area corners overflowing int") << itexBytes(
        "areSource=\"-2147483648,-2147483648,2147483647,2147483647\",", pixels16(ramp(6, 4, 3)))
                                                       << "File is not ready to access";
    QTest::newRow("ITEX 3 bytes per pixel")
        << itexBytes(sizeComment(6, 4, 3), QByteArray(72, '\1')) << "unsupported BytesPerPixel";
    QTest::newRow("ITEX comment length beyond the file") << QByteArray("IM\xff\xff", 4)
            + QByteArray(70, 'x') << "ITEX file ends inside its comment.";
    QTest::newRow("TIFF header only")
        << QByteArray("II*\0\x08\0\0\0", 8) << "File is not ready to access";
    QTest::newRow("TIFF claiming 100000 x 100000")
        << tiffClaiming(100000, 100000, 16, 48) << "TIFF image size does not fit the file";
    QTest::newRow("TIFF claiming 2^32-1 columns")
        << tiffClaiming(0xffffffffu, 4, 16, 48) << "File is not ready to access";
    QTest::newRow("TIFF of zero width")
        << tiffClaiming(0, 4, 16, 48) << "File is not ready to access";
    QTest::newRow("TIFF of another size") << tiffClaiming(7, 4, 16, 56) << "Mismatch image size";
}

void TestRobustImage::hostileFilesAreRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, logged);
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("bad.img"));
    QVERIFY(writeFile(bad, bytes));
    LogCapture log;
    QString why;
    QVERIFY2(stackSurvives(dir, bad, why), qPrintable(why));
    QVERIFY2(log.contains(logged), qPrintable(log.lines().join(QLatin1Char('\n'))));
}

void TestRobustImage::directoryInPlaceOfAFile()
{
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("folder.img"));
    QVERIFY(QDir().mkdir(bad));
    LogCapture log;
    QString why;
    QVERIFY2(stackSurvives(dir, bad, why), qPrintable(why));
    QVERIFY(log.contains(QStringLiteral("Unknown file type")));
}

void TestRobustImage::unreadableFile()
{
    if (geteuid() == 0)
        QSKIP("root reads files whatever their mode");
    QTemporaryDir dir;
    const QString bad = dir.filePath(QStringLiteral("locked.img"));
    QVERIFY(writeFile(bad, itexBytes(sizeComment(6, 4, 2), pixels16(ramp(6, 4, 3)))));
    QVERIFY(QFile::setPermissions(bad, QFileDevice::Permissions()));
    LogCapture log;
    QString why;
    QVERIFY2(stackSurvives(dir, bad, why), qPrintable(why));
    QVERIFY(log.contains(QStringLiteral("Can not open")));
}

// A named pipe among the data files (left by an acquisition program) must be
// refused at once: opening it for reading would wait for a writer forever.
void TestRobustImage::fifoInPlaceOfAFileDoesNotBlock()
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe.img"));
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    LogCapture log;
    std::atomic<bool> survived { false };
    QString why;
    auto done = std::async(std::launch::async, [&] { survived = stackSurvives(dir, fifo, why); });
    const bool finished = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    // Release every blocked open of the reader so that the test ends either way.
    for (int k = 0;
         k < 100 && done.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready;
         ++k) {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    done.wait();
    QVERIFY2(finished, "opening a named pipe blocked the stack");
    QVERIFY2(survived, qPrintable(why));
    QVERIFY(log.contains(QStringLiteral("Unknown file type")));
}

// TIFF members keep their pixels mapped, not their files open: a stack of
// 2000 TIFF files loads, clears and loads again under a descriptor limit far
// below the number of files.
void TestRobustImage::tiffStackReloadedUnderALowDescriptorLimit()
{
    const int files = 2000;
    QTemporaryDir dir;
    QStringList paths;
    for (int k = 0; k < files; ++k) {
        TiffKind kind;
        kind.width = 8;
        kind.height = 4;
        std::vector<quint16> v = ramp(8, 4, k % 50);
        const QByteArray data(reinterpret_cast<const char *>(v.data()), int(v.size() * 2));
        paths << dir.filePath(QStringLiteral("t%1.tif").arg(k, 5, 10, QLatin1Char('0')));
        QVERIFY(writeTiff(paths.last(), kind, data));
    }
    rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int before = openDescriptors();
    rlimit low = saved;
    low.rlim_cur = rlim_t(before + 64);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);

    ImgDatas stack;
    int accepted = 0;
    bool rowsOk = true;
    bool mapped = true;
    for (int round = 0; round < 5 && rowsOk; ++round) {
        stack.clear();
        accepted = 0;
        for (const QString &p : paths)
            accepted += stack.add(p);
        if (accepted != files)
            break;
        mapped = mapped && stack.at(files - 1)->pixelsMapped();
        double row[8];
        stack.at(files - 1)->row(3, row);
        rowsOk = row[7] == double(((files - 1) % 50) * 100 + 31);
    }
    const int during = openDescriptors();
    setrlimit(RLIMIT_NOFILE, &saved);
    QCOMPARE(accepted, files);
    QVERIFY(rowsOk);
    QVERIFY(mapped);
    QVERIFY2(during <= before + 2, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(during)));
}

VORLO_TEST(TestRobustImage)
#include "test_robust_image.moc"
