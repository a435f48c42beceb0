#include "image/img_datas.h"
#include "tests/image/test_images.h"
#include "tests/test_registry.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/resource.h>

using namespace testimg;

namespace {

// An ITEX file of the given size whose pixel (x, y) holds tag * 1000 + y * w + x.
QString writeItex(const QTemporaryDir &dir, const QString &name, int w, int h, int tag = 0)
{
    std::vector<quint16> v;
    for (int k = 0; k < w * h; ++k)
        v.push_back(quint16(tag * 1000 + k));
    const QString path = dir.filePath(name);
    return writeFile(path, itexBytes(sizeComment(w, h, 2), pixels16(v))) ? path : QString();
}

QString mismatch(int sw, int sh, int w, int h, const QString &path)
{
    return QStringLiteral("Mismatch image size : (%1, %2) != (%3, %4) :  \"%5\"")
        .arg(sw)
        .arg(sh)
        .arg(w)
        .arg(h)
        .arg(path);
}

} // namespace

class TestImgDatas : public QObject {
    Q_OBJECT
private slots:
    void firstImageSetsTheSize();
    void clearImgsKeepsTheSize();
    void refusesUnknownAndBrokenFiles();
    void refusesTiffOfAnotherSize();
    void membersByIndex();
    void i0AndBgReferences();
    void thousandsOfFilesUnderALowDescriptorLimit();
};

void TestImgDatas::firstImageSetsTheSize()
{
    QTemporaryDir dir;
    ImgDatas stack;
    QCOMPARE(stack.size(), QSize(0, 0));
    const QString a = writeItex(dir, "a.img", 8, 4);
    const QString b = writeItex(dir, "b.img", 6, 4);
    const QString c = writeItex(dir, "c.img", 8, 5);
    QVERIFY(stack.add(a));
    QCOMPARE(stack.size(), QSize(8, 4));
    LogCapture log;
    QVERIFY(!stack.add(b)); // other width
    QVERIFY(!stack.add(c)); // other height
    QCOMPARE(log.lines(), QStringList({ mismatch(8, 4, 6, 4, b), mismatch(8, 4, 8, 5, c) }));
    QCOMPARE(stack.count(), 1);
    QCOMPARE(stack.size(), QSize(8, 4));
}

void TestImgDatas::clearImgsKeepsTheSize()
{
    QTemporaryDir dir;
    const QString small = writeItex(dir, "s.img", 8, 4);
    const QString large = writeItex(dir, "l.img", 16, 8);
    ImgDatas stack;
    QVERIFY(stack.add(small));
    stack.clearImgs();
    QCOMPARE(stack.count(), 0);
    QCOMPARE(stack.size(), QSize(8, 4));
    {
        LogCapture log;
        QVERIFY(!stack.add(large));
        QCOMPARE(log.lines(), QStringList { mismatch(8, 4, 16, 8, large) });
    }
    QVERIFY(stack.add(small));
    stack.clear();
    QCOMPARE(stack.size(), QSize(0, 0));
    QVERIFY(stack.add(large));
    QCOMPARE(stack.size(), QSize(16, 8));
}

void TestImgDatas::refusesUnknownAndBrokenFiles()
{
    QTemporaryDir dir;
    const QString good = writeItex(dir, "good.img", 8, 4);
    const QString text = dir.filePath("notes.img");
    QVERIFY(writeFile(text, "hello"));
    const QString cut = dir.filePath("cut.img");
    QVERIFY(writeFile(cut, itexBytes(sizeComment(8, 4, 2), QByteArray(40, '\0'))));
    ImgDatas stack;
    QVERIFY(stack.add(good));
    LogCapture log;
    QVERIFY(!stack.add(text));
    QCOMPARE(log.lines().value(0), QStringLiteral("Unknown file type :  \"%1\"").arg(text));
    QVERIFY(!stack.add(cut));
    QCOMPARE(log.lines().last(), QStringLiteral("File is not ready to access \"%1\"").arg(cut));
    QCOMPARE(stack.count(), 1);
    QCOMPARE(stack.at(0)->fileName(), good);
}

void TestImgDatas::refusesTiffOfAnotherSize()
{
    QTemporaryDir dir;
    const QString itex = writeItex(dir, "a.img", 8, 4);
    TiffKind s;
    s.width = 5;
    s.height = 3;
    const QString tiff = dir.filePath("b.tif");
    QVERIFY(writeTiff(tiff, s, QByteArray(5 * 3 * 2, '\x01')));
    ImgDatas stack;
    QVERIFY(stack.add(itex));
    LogCapture log;
    QVERIFY(!stack.add(tiff));
    QCOMPARE(log.lines(), QStringList { mismatch(8, 4, 5, 3, tiff) });
    // A TIFF of the right size is as good a member as an ITEX image.
    s.width = 8;
    s.height = 4;
    const QString fits = dir.filePath("c.tif");
    QVERIFY(writeTiff(fits, s, QByteArray(8 * 4 * 2, '\x01')));
    QVERIFY(stack.add(fits));
    QCOMPARE(stack.count(), 2);
}

void TestImgDatas::membersByIndex()
{
    QTemporaryDir dir;
    ImgDatas stack;
    QVERIFY(stack.at(0) == nullptr);
    QVERIFY(!stack.validIndex(0));
    for (int k = 0; k < 3; ++k)
        QVERIFY(stack.add(writeItex(dir, QStringLiteral("p%1.img").arg(k), 4, 2, k)));
    QCOMPARE(stack.count(), 3);
    QVERIFY(stack.at(-1) == nullptr);
    QVERIFY(stack.at(3) == nullptr);
    QVERIFY(!stack.validIndex(-1));
    QVERIFY(!stack.validIndex(3));
    // Members keep the order in which they were added.
    double row[4];
    for (int k = 0; k < 3; ++k) {
        QVERIFY(stack.at(k)->ready());
        stack.at(k)->row(1, row);
        QCOMPARE(row[2], double(k * 1000 + 6));
    }
}

void TestImgDatas::i0AndBgReferences()
{
    QTemporaryDir dir;
    ImgDatas stack;
    QVERIFY(stack.i0() == nullptr); // no reference set

    ImgData *i0Slot = nullptr;
    std::unique_ptr<ImgData> bgSlot;
    stack.setI0Ref(&i0Slot);
    stack.setBgRef(&bgSlot);
    QVERIFY(stack.i0() == nullptr); // empty slots
    QVERIFY(stack.bg() == nullptr);

    std::unique_ptr<ImgData> notLoaded(createImgData(ImgFileITEX));
    i0Slot = notLoaded.get();
    QVERIFY(stack.i0() == nullptr); // not ready

    std::unique_ptr<ImgData> i0(createImgData(ImgFileITEX));
    i0->setFileName(writeItex(dir, "i0.img", 8, 4));
    QVERIFY(i0->load());
    i0Slot = i0.get();
    QCOMPARE(stack.i0(), i0.get());

    // The stack follows whatever the selector puts into its slot later.
    bgSlot.reset(createImgData(ImgFileITEX));
    bgSlot->setFileName(writeItex(dir, "bg.img", 8, 4));
    QVERIFY(bgSlot->load());
    QCOMPARE(stack.bg(), bgSlot.get());
    bgSlot.reset();
    QVERIFY(stack.bg() == nullptr);

    // Reference images are not members and clearing leaves them alone.
    QCOMPARE(stack.count(), 0);
    stack.clear();
    QCOMPARE(stack.i0(), i0.get());
}

void TestImgDatas::thousandsOfFilesUnderALowDescriptorLimit()
{
    const int files = 2000;
    QTemporaryDir dir;
    QStringList paths;
    for (int k = 0; k < files; ++k) {
        paths << writeItex(
            dir, QStringLiteral("p%1.img").arg(k, 5, 10, QLatin1Char('0')), 8, 4, k % 60);
        QVERIFY(!paths.last().isEmpty());
    }
    // A limit far below the number of files: holding one descriptor per
    // member would make the loads fail long before the end.
    rlimit saved;
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &saved), 0);
    const int before = openDescriptors();
    rlimit low = saved;
    low.rlim_cur = rlim_t(before + 64);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &low), 0);

    ImgDatas stack;
    int accepted = 0;
    bool rowsOk = true;
    for (int round = 0; round < 3; ++round) {
        stack.clear();
        accepted = 0;
        for (const QString &p : paths)
            accepted += stack.add(p);
        if (accepted != files)
            break;
        double row[8];
        stack.at(files - 1)->row(3, row);
        rowsOk = rowsOk && row[7] == double(((files - 1) % 60) * 1000 + 31);
    }
    const int during = openDescriptors();
    setrlimit(RLIMIT_NOFILE, &saved);
    QCOMPARE(accepted, files);
    QVERIFY(rowsOk);
    QVERIFY2(during <= before + 2, qPrintable(QStringLiteral("%1 -> %2").arg(before).arg(during)));
}

VORLO_TEST(TestImgDatas)
#include "test_img_datas.moc"
