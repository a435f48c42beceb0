// A projection file that changes after its scan was loaded: the sinograms that
// need it are refused (false, a log line naming the file, no arrays), for
// either axis, whether the file was rewritten before the build or cut during
// it; the other slices of an unchanged scan still build.
#include "ct/h_sgm.h"
#include "image/img_data.h"
#include "image/img_datas.h"
#include "tests/test_registry.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <atomic>
#include <thread>

namespace {

constexpr int W = 96, H = 64, M = 12;

QByteArray itex16(quint16 base)
{
    const QByteArray comment = QString("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=2,")
                                   .arg(W)
                                   .arg(H)
                                   .toLatin1();
    QByteArray data(64, '\0');
    data[0] = 'I';
    data[1] = 'M';
    qToLittleEndian<quint16>(quint16(comment.size()), data.data() + 2);
    data += comment;
    QByteArray px(W * H * 2, '\0');
    for (int i = 0; i < W * H; ++i)
        qToLittleEndian<quint16>(quint16(base + i % 50), px.data() + 2 * i);
    return data + px;
}

bool write(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.write(bytes) == bytes.size();
}

struct Scan {
    QTemporaryDir dir;
    ImgDatas stack;
    QString file(int k) const { return dir.filePath(QString("p%1.img").arg(k)); }
    bool make()
    {
        for (int k = 0; k < M; ++k)
            if (!write(file(k), itex16(quint16(1000 + k))) || !stack.add(file(k)))
                return false;
        return true;
    }
};

} // namespace

class TestChangedProjection : public QObject {
    Q_OBJECT
private slots:
    void rewrittenFileRefusesTheSlice_data()
    {
        QTest::addColumn<bool>("rotAxIsV");
        QTest::newRow("axis vertical (rows)") << true;
        QTest::newRow("axis horizontal (columns)") << false;
    }

    void rewrittenFileRefusesTheSlice()
    {
        QFETCH(bool, rotAxIsV);
        Scan s;
        QVERIFY(s.make());
        const double cor = rotAxIsV ? W / 2 : H / 2;
        HSgm h;
        QVERIFY(genSinogram0(&h, &s.stack, rotAxIsV, cor, 5));
        QVERIFY(h.built());

        QTest::qWait(20);
        QVERIFY(write(s.file(7), itex16(3000)));
        const QString named = QRegularExpression::escape(s.file(7));
        QTest::ignoreMessage(QtDebugMsg,
            QRegularExpression("^Image file changed since loading :  \"" + named + "\"$"));
        QTest::ignoreMessage(QtDebugMsg,
            QRegularExpression("^Sinogram of slice 6 not built, image file changed since "
                               "loading :  \""
                + named + "\"$"));
        QVERIFY(!genSinogram0(&h, &s.stack, rotAxIsV, cor, 6));
        QVERIFY(!h.built());
        // Later slices: refused at once, with the slice's own line only.
        QTest::ignoreMessage(
            QtDebugMsg, QRegularExpression("^Sinogram of slice 7 not built.*" + named));
        QVERIFY(!genSinogram0(&h, &s.stack, rotAxIsV, cor, 7));
    }

    void cutDuringBuilds()
    {
        // Two threads build sinograms of both orientations over and over while
        // one file is cut: nothing crashes, and no build that reports success
        // came after the cut was noticed.
        Scan s;
        QVERIFY(s.make());
        std::atomic<bool> stop { false };
        std::atomic<int> okAfterRefusal { 0 };
        std::atomic<int> builds { 0 };
        ImgData *cutOne = s.stack.at(M - 1);
        auto worker = [&](bool v) {
            HSgm h;
            int slice = 0;
            while (!stop.load()) {
                const bool refusedBefore = cutOne->fileRefused();
                const bool ok = genSinogram0(&h, &s.stack, v, v ? W / 2 : H / 2, slice);
                okAfterRefusal += ok && refusedBefore;
                ++builds;
                slice = (slice + 7) % (v ? H : W);
            }
        };
        std::thread a(worker, true), b(worker, false);
        QTest::qWait(30);
        QVERIFY(QFile::resize(s.file(M - 1), 100));
        QTest::qWait(50);
        stop = true;
        a.join();
        b.join();
        QVERIFY(builds.load() > 2);
        QCOMPARE(okAfterRefusal.load(), 0);
        QVERIFY(cutOne->fileRefused());
        HSgm h;
        QVERIFY(!genSinogram0(&h, &s.stack, true, W / 2, 1));
    }
};

VORLO_TEST(TestChangedProjection)
#include "test_changed_projection.moc"
