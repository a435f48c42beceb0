// Files that change after they were loaded. Stack members keep their pixels in
// the file's own pages: cutting such a file under a running read must not end
// the program (the read gives zeros and the image is refused with one log
// line), and a rewrite in place is noticed by the size/time check. Images
// loaded on their own (I0, BG) are private copies that keep their values.
#include "image/img_data.h"
#include "image/img_datas.h"
#include "image/level_map.h"
#include "tests/image/test_images.h"
#include "tests/test_registry.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <csignal>
#include <pthread.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace testimg;

namespace {

constexpr int W = 256, H = 64; // 32 KiB of 16-bit pixels: several pages

QByteArray itexImage(quint16 base)
{
    std::vector<quint16> v(std::size_t(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            v[std::size_t(y) * W + x] = quint16(base + y * 3 + x);
    return itexBytes(sizeComment(W, H, 2), pixels16(v));
}

int logCount(const LogCapture &log, const QString &part)
{
    int n = 0;
    for (const QString &l : log.lines())
        n += l.contains(part);
    return n;
}

// Rewrites the file in place (same inode, as a program writing over it
// would), after the clock has moved on.
bool rewriteInPlace(const QString &path, const QByteArray &bytes)
{
    QTest::qWait(20);
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.write(bytes) == bytes.size();
}

const QString changedLine = QStringLiteral("Image file changed since loading : ");

} // namespace

class TestChangedFiles : public QObject {
    Q_OBJECT
private slots:
    void privateCopiesKeepTheirValues();
    void cutFileDoesNotEndTheProgram_data();
    void cutFileDoesNotEndTheProgram();
    void cutWhileThreadsRead();
    void rewriteIsNoticedOnce();
    void untouchedFilesPassTheCheck();
};

void TestChangedFiles::privateCopiesKeepTheirValues()
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("i0.img");
    QVERIFY(writeFile(path, itexImage(100)));
    std::unique_ptr<ImgData> i0(createImgData(fileType(path)));
    i0->setFileName(path);
    QVERIFY(i0->load());
    QVERIFY(!i0->pixelsMapped());

    // Cut and rewritten: the copy neither crashes nor changes, and no check
    // refuses it.
    QVERIFY(QFile::resize(path, 70));
    std::vector<double> row(W);
    i0->row(H - 1, row.data());
    QCOMPARE(row[5], double(100 + (H - 1) * 3 + 5));
    QVERIFY(rewriteInPlace(path, itexImage(7000)));
    i0->row(1, row.data());
    QCOMPARE(row[0], double(103));
    QVERIFY(i0->checkFile());
    QVERIFY(!i0->fileRefused());
}

void TestChangedFiles::cutFileDoesNotEndTheProgram_data()
{
    QTest::addColumn<bool>("tiff");
    QTest::newRow("ITEX") << false;
    QTest::newRow("TIFF plain strips") << true;
}

void TestChangedFiles::cutFileDoesNotEndTheProgram()
{
    QFETCH(bool, tiff);
    QTemporaryDir tmp;
    ImgDatas stack;
    QString path;
    if (tiff) {
        path = tmp.filePath("p.tif");
        TiffKind k;
        k.width = W;
        k.height = H;
        k.rowsPerStrip = H;
        QByteArray data(W * H * 2, '\0');
        for (int i = 0; i < W * H; ++i)
            reinterpret_cast<quint16 *>(data.data())[i] = quint16(500 + i % 97);
        QVERIFY(writeTiff(path, k, data));
    } else {
        path = tmp.filePath("p.img");
        QVERIFY(writeFile(path, itexImage(500)));
    }
    QVERIFY(stack.add(path));
    ImgData *img = stack.at(0);
    QVERIFY(img->pixelsMapped());

    // Cut to its first bytes while loaded: the last rows' pages are gone.
    QVERIFY(QFile::resize(path, 100));
    LogCapture log;
    std::vector<double> row(W, -1.0), col(H, -1.0);
    img->row(H - 1, row.data());
    QCOMPARE(row[0], 0.0);
    QCOMPARE(row[W - 1], 0.0);
    QVERIFY(img->fileRefused());
    img->column(3, col.data());
    QCOMPARE(col[H - 1], 0.0);
    QCOMPARE(img->value(2, H - 1), 0.0);
    img->scanMinMax();
    QImage picture;
    img->toImage(picture, LevelMap());
    QCOMPARE(picture.size(), QSize(W, H));
    QVERIFY(!img->checkFile());
    // The thread can take the next bus error: SIGBUS is not left blocked.
    sigset_t now;
    QCOMPARE(pthread_sigmask(SIG_BLOCK, nullptr, &now), 0);
    QVERIFY(!sigismember(&now, SIGBUS));
    // One line for the file, whatever the number of reads.
    QCOMPARE(logCount(log, changedLine), 1);
    QVERIFY(log.contains(path));
}

void TestChangedFiles::cutWhileThreadsRead()
{
    QTemporaryDir tmp;
    ImgDatas stack;
    const int files = 8;
    for (int k = 0; k < files; ++k) {
        const QString p = tmp.filePath(QStringLiteral("p%1.img").arg(k));
        QVERIFY(writeFile(p, itexImage(quint16(10 * k))));
        QVERIFY(stack.add(p));
    }
    LogCapture log;
    std::atomic<bool> stop { false };
    std::atomic<long> reads { 0 };
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t) {
        readers.emplace_back([&, t] {
            std::vector<double> line(std::max(W, H));
            while (!stop.load()) {
                for (int k = 0; k < files; ++k) {
                    if (t == 0)
                        stack.at(k)->column(k * 7 % W, line.data());
                    else
                        stack.at(k)->row(H - 1 - k, line.data());
                    ++reads;
                }
            }
        });
    }
    // Cut every other file while both threads read.
    for (int k = 0; k < files; k += 2) {
        QTest::qWait(5);
        QVERIFY(QFile::resize(tmp.filePath(QStringLiteral("p%1.img").arg(k)), 64 + k * 1000));
    }
    QTest::qWait(20);
    stop = true;
    for (std::thread &t : readers)
        t.join();
    QVERIFY(reads.load() > files);
    for (int k = 0; k < files; ++k)
        QCOMPARE(stack.at(k)->checkFile(), k % 2 == 1);
    QCOMPARE(logCount(log, changedLine), files / 2);
}

void TestChangedFiles::rewriteIsNoticedOnce()
{
    QTemporaryDir tmp;
    ImgDatas stack;
    const QString path = tmp.filePath("p.img");
    QVERIFY(writeFile(path, itexImage(1)));
    QVERIFY(stack.add(path));
    ImgData *img = stack.at(0);
    QVERIFY(img->checkFile());
    // The same size, other values: only the modification time tells.
    QVERIFY(rewriteInPlace(path, itexImage(900)));
    LogCapture log;
    QVERIFY(!img->checkFile());
    QVERIFY(!img->checkFile());
    QCOMPARE(logCount(log, changedLine), 1);
    QVERIFY(log.contains(path));
    // Refused: reads give zeros rather than a mixture of old and new values.
    std::vector<double> row(W, -1.0);
    img->row(0, row.data());
    QCOMPARE(row[10], 0.0);

    // A file replaced by another under its name counts as changed as well.
    const QString other = tmp.filePath("q.img");
    QVERIFY(writeFile(other, itexImage(1)));
    QVERIFY(stack.add(other));
    QTest::qWait(20);
    QVERIFY(writeFile(tmp.filePath("new.img"), itexImage(1)));
    QVERIFY(QFile::remove(other));
    QVERIFY(QFile::rename(tmp.filePath("new.img"), other));
    QVERIFY(!stack.at(1)->checkFile());
    // And one deleted.
    const QString gone = tmp.filePath("r.img");
    QVERIFY(writeFile(gone, itexImage(1)));
    QVERIFY(stack.add(gone));
    QVERIFY(QFile::remove(gone));
    QVERIFY(!stack.at(2)->checkFile());
}

void TestChangedFiles::untouchedFilesPassTheCheck()
{
    QTemporaryDir tmp;
    ImgDatas stack;
    const QString path = tmp.filePath("p.img");
    QVERIFY(writeFile(path, itexImage(1)));
    QVERIFY(stack.add(path));
    // Read, opened and closed by others, even touched for reading only.
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    f.readAll();
    f.close();
    LogCapture log;
    std::vector<double> row(W);
    for (int i = 0; i < H; ++i)
        stack.at(0)->row(i, row.data());
    QVERIFY(stack.at(0)->checkFile());
    QCOMPARE(row[0], double(1 + (H - 1) * 3));
    QVERIFY(log.lines().isEmpty());
}

VORLO_TEST(TestChangedFiles)
#include "test_changed_files.moc"
