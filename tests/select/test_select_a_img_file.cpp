#include "display/color_bar.h"
#include "display/img_disp_wpv.h"
#include "image/img_data.h"
#include "select/select_a_img_file.h"
#include "tests/test_registry.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {
// A 16-bit ITEX file of w x h pixels whose value at (x, y) is value(x, y).
template <typename F> bool writeItex(const QString &path, int w, int h, F value)
{
    const QByteArray comment =
        QString("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=2,").arg(w).arg(h).toLatin1();
    QByteArray data(64, '\0');
    data[0] = 'I';
    data[1] = 'M';
    qToLittleEndian<quint16>(quint16(comment.size()), data.data() + 2);
    data += comment;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            char px[2];
            qToLittleEndian<quint16>(quint16(value(x, y)), px);
            data.append(px, 2);
        }
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QString text(QObject *o, const char *name)
{
    auto *e = o->findChild<QLineEdit *>(name);
    return e ? e->text() : QString("<missing %1>").arg(name);
}

const QRegularExpression loadingLine("loading");
} // namespace

class SelectAImgFileTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(tmp.isValid());
        good = tmp.filePath("i0.img");
        other = tmp.filePath("i0b.img");
        QVERIFY(writeItex(good, 4, 5, [](int x, int y) { return 100 + 10 * y + x; }));
        QVERIFY(writeItex(other, 3, 2, [](int x, int) { return 7 * (x + 1); }));
    }

    void loadShowsTheImage()
    {
        SelectAImgFile s;
        QTest::ignoreMessage(QtDebugMsg, loadingLine);
        s.fileSelected0(good);
        QVERIFY(s.image());
        QVERIFY(s.image()->ready());
        QCOMPARE(s.image()->width(), 4);
        QCOMPARE(text(&s, "FilePath"), good);
        QCOMPARE(s.findChild<QLineEdit *>("FilePath")->styleSheet(),
                 QString("background-color: rgb(211, 255, 241);"));
        ImgDispWPV *w = s.imageWindow();
        QVERIFY(w->isVisible());
        QCOMPARE(w->image().size(), QSize(4, 5));
        QCOMPARE(w->image().format(), QImage::Format_Grayscale8);
        // The bar follows the image's range: darkest top-left, brightest bottom-right.
        QCOMPARE(w->colorBar().minV(), 100.0);
        QCOMPARE(w->colorBar().maxV(), 143.0);
        QCOMPARE(qGray(w->image().pixel(0, 0)), 0);
        QCOMPARE(qGray(w->image().pixel(3, 4)), 255);
        QCOMPARE(s.imageSlot()->get(), s.image());
    }

    void failedLoadKeepsTheEarlierImage_data()
    {
        QTest::addColumn<QString>("bad");
        QTest::newRow("missing file") << "missing.img";
        QTest::newRow("unknown type") << "text.img";
        QTest::newRow("truncated header") << "short.img";
    }
    void failedLoadKeepsTheEarlierImage()
    {
        QFETCH(QString, bad);
        {
            QFile t(tmp.filePath("text.img"));
            QVERIFY(t.open(QIODevice::WriteOnly));
            t.write("plain text, not an image");
            QFile s(tmp.filePath("short.img"));
            QVERIFY(s.open(QIODevice::WriteOnly));
            s.write("IM\x05");
        }
        SelectAImgFile s;
        QTest::ignoreMessage(QtDebugMsg, loadingLine);
        s.fileSelected0(good);
        ImgData *first = s.image();
        QVERIFY(first);
        // The image reader logs its own reasons; they are not what is tested here.
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
        s.fileSelected0(tmp.filePath(bad));
        qInstallMessageHandler(previous);
        QCOMPARE(s.image(), first);
        QCOMPARE(s.image()->fileName(), good);
        QCOMPARE(s.findChild<QLineEdit *>("FilePath")->styleSheet(),
                 QString("background-color: rgb(255, 192, 192);"));
    }

    void secondLoadReplacesTheImage()
    {
        SelectAImgFile s;
        QTest::ignoreMessage(QtDebugMsg, loadingLine);
        s.fileSelected0(good);
        QTest::ignoreMessage(QtDebugMsg, loadingLine);
        s.fileSelected0(other);
        QCOMPARE(s.image()->width(), 3);
        QCOMPARE(s.image()->fileName(), other);
    }

    void positionReadOut_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<QString>("val");
        QTest::newRow("inside") << 2.0 << 3.0 << "132";
        QTest::newRow("fraction truncated") << 2.9 << 1.7 << "112";
        QTest::newRow("just left of zero reads column 0") << -0.5 << 3.0 << "130";
        QTest::newRow("left of the image") << -1.0 << 3.0 << "0";
        QTest::newRow("right of the image") << 4.0 << 0.0 << "0";
        QTest::newRow("below the image") << 0.0 << 5.0 << "0";
        QTest::newRow("huge") << 1e300 << 1e300 << "0";
    }
    void positionReadOut()
    {
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(QString, val);
        SelectAImgFile s;
        QTest::ignoreMessage(QtDebugMsg, loadingLine);
        s.fileSelected0(good);
        s.imageWindow()->setVal(-99);
        s.noticedNewPos(x, y);
        QCOMPARE(text(s.imageWindow(), "Val"), val);
    }

    void readOutWithoutImageDoesNothing()
    {
        SelectAImgFile s;
        s.imageWindow()->setVal(-99);
        s.noticedNewPos(1, 1);
        QCOMPARE(text(s.imageWindow(), "Val"), QString("-99"));
    }

    void clearDropsImageAndResetsExpTime()
    {
        SelectAImgFile s;
        QCOMPARE(s.initialExpTime(), 0.05);
        QTest::ignoreMessage(QtDebugMsg, loadingLine);
        s.fileSelected0(good);
        s.setExpTime(2.0 / 3.0);
        QCOMPARE(text(&s, "ExpTimeLE"), QString("0.666667"));
        s.findChild<QPushButton *>("Clear")->click();
        QVERIFY(!s.image());
        QCOMPARE(s.imageSlot()->get(), nullptr);
        QCOMPARE(text(&s, "ExpTimeLE"), QString("0.05"));
        QCOMPARE(text(&s, "FilePath"), QString());
    }

    void showImgButtonShowsTheWindow()
    {
        SelectAImgFile s;
        QVERIFY(!s.imageWindow()->isVisible());
        QSignalSpy asked(&s, &SelectAImgFile::showImageRequested);
        auto *b = s.findChild<QPushButton *>("ShowImg");
        QVERIFY(b);
        QCOMPARE(b->text(), QString("Show Img"));
        b->click();
        QCOMPARE(asked.count(), 1);
        QVERIFY(s.imageWindow()->isVisible());
    }

    // The owner may place the window into a frame of its own, which then
    // deletes it; the selector must not delete it a second time.
    void windowOwnedByAnotherFrame()
    {
        auto *holder = new QWidget;
        auto s = std::make_unique<SelectAImgFile>();
        s->imageWindow()->setParent(holder);
        delete holder;
        QVERIFY(!s->imageWindow());
        QTest::ignoreMessage(QtDebugMsg, loadingLine);
        s->fileSelected0(good); // no window to draw into: still loads
        QVERIFY(s->image());
        s->noticedNewPos(0, 0);
        s.reset();
    }

    void barChangeRedrawsThePicture()
    {
        SelectAImgFile s;
        QTest::ignoreMessage(QtDebugMsg, loadingLine);
        s.fileSelected0(good);
        ColorBar &bar = s.imageWindow()->colorBar();
        bar.setFixColorScale(true);
        bar.setMinV(0);
        bar.setMaxV(1000);
        emit bar.newBar();
        // 143 of 0..1000 is level 36.
        QCOMPARE(qGray(s.imageWindow()->image().pixel(3, 4)), 36);
    }

private:
    QTemporaryDir tmp;
    QString good;
    QString other;
};

VORLO_TEST(SelectAImgFileTest)
#include "test_select_a_img_file.moc"
