#include "ct/proc_ctrl.h"
#include "ct/sinogram.h"
#include "display/color_bar.h"
#include "display/img_disp_wpv.h"
#include "tests/ct/phantom_stack.h"
#include "tests/test_registry.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <complex>

class TestSinogramPanel : public QObject {
    Q_OBJECT

    // A panel wired to its Proc Control as the main window does it, shown
    // (a hidden panel leaves its pictures for later) unless asked otherwise.
    struct Rig {
        ProcCtrl proc;
        Sinogram panel;
        Rig(ImgDatas *stack, bool shown = true)
        {
            if (shown)
                panel.show();
            panel.setProcCtrl(&proc);
            panel.setImgDatas(stack);
            QObject::connect(&proc, SIGNAL(sliceNoUpdated()), &panel, SLOT(sliceNoUpdated()));
            QObject::connect(&proc, SIGNAL(corUpdated()), &panel, SLOT(corUpdated()));
            QObject::connect(&proc, SIGNAL(rotAxUpdated()), &panel, SLOT(rotAxUpdated()));
            QObject::connect(&proc, SIGNAL(autoUpdateUpdated()), &panel, SLOT(autoUpdateUpdated()));
        }
    };

    // Three 16 x 8 images; pixel (x, y) of image k is 100 + x + 10 k + 1000 y.
    static bool ramps(phantom::Stack &s)
    {
        return s.addAll(3, 16, 8, [](int k, int x, int y) { return 100 + x + 10 * k + 1000 * y; });
    }

private slots:
    void buildsCentredRowsAndMirroredPicture()
    {
        phantom::Stack s;
        QVERIFY(ramps(s));
        Rig r(&s.stack);
        r.proc.setAutoUpdate(false);
        r.proc.setRotAxIsV(true);
        r.proc.setSliceNo(2);
        r.proc.setAutoUpdate(true); // rebuilds now
        r.proc.setCor(7.5);

        const HSgm *h = r.panel.hSgm();
        QVERIFY(h->built());
        // half = floor(min(7.5, 16 - 7.5 - 1)) = 7, width 13, samples 1.5 ... 13.5
        QCOMPARE(h->width, 13);
        QCOMPARE(h->rows, 3);
        QCOMPARE(h->slice, 2);
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < h->width; ++j)
                QCOMPARE(h->rawRow(k)[j], 100 + 1.5 + j + 10 * k + 2000.0);
        QCOMPARE(r.panel.rawMin(), 2101.5);
        QCOMPARE(r.panel.rawMax(), 2133.5);
        // Neither I0 nor BG: the attenuation is -ln I.
        QVERIFY(std::abs(h->sgmRow(1)[4] + std::log(2115.5)) < 1e-12);

        const QImage &img = r.panel.sinogramDisplay()->image();
        QCOMPARE(img.width(), 13);
        QCOMPARE(img.height(), 6);
        QCOMPARE(img.format(), QImage::Format_Grayscale8);
        const ColorBar &bar = r.panel.sinogramDisplay()->colorBar();
        QCOMPARE(bar.minV(), 2101.5);
        QCOMPARE(bar.maxV(), 2133.5);
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < 13; ++j) {
                QCOMPARE(int(img.constScanLine(k)[j]), bar.level(h->rawRow(k)[j]));
                QCOMPARE(img.constScanLine(3 + k)[12 - j], img.constScanLine(k)[j]);
            }
        QCOMPARE(int(img.constScanLine(0)[0]), 0);
        QCOMPARE(int(img.constScanLine(5)[0]), 255);
    }

    // While the panel is hidden (as in a run without window) a rebuild makes
    // only the data; showing it makes the very pictures a shown panel has.
    void hiddenPanelDrawsWhenShown()
    {
        phantom::Stack s;
        QVERIFY(ramps(s));
        Rig shown(&s.stack);
        Rig hidden(&s.stack, false);
        for (Rig *r : { &shown, &hidden }) {
            r->panel.setGenFouS(true);
            r->proc.setRotAxIsV(true);
            r->proc.setAutoUpdate(true);
            r->proc.setSliceNo(2);
            r->proc.setCor(7.0);
        }
        QVERIFY(hidden.panel.hSgm()->built());
        QCOMPARE(hidden.panel.hSgm()->slice, 2);
        QCOMPARE(hidden.panel.hSgm()->width, shown.panel.hSgm()->width);
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < hidden.panel.hSgm()->width; ++j)
                QCOMPARE(hidden.panel.hSgm()->sgmRow(k)[j], shown.panel.hSgm()->sgmRow(k)[j]);
        QVERIFY(hidden.panel.picturePending());
        QVERIFY(hidden.panel.sinogramDisplay()->image().isNull());
        QVERIFY(hidden.panel.fourierDisplay()->image().isNull());
        QVERIFY(!shown.panel.picturePending());

        hidden.panel.show();
        QVERIFY(!hidden.panel.picturePending());
        QCOMPARE(hidden.panel.sinogramDisplay()->image(), shown.panel.sinogramDisplay()->image());
        QCOMPARE(hidden.panel.fourierDisplay()->image(), shown.panel.fourierDisplay()->image());
        QVERIFY(!hidden.panel.sinogramDisplay()->image().isNull());
        QCOMPARE(hidden.panel.rawMin(), shown.panel.rawMin());
        QCOMPARE(hidden.panel.rawMax(), shown.panel.rawMax());
        QCOMPARE(hidden.panel.sinogramDisplay()->colorBar().minV(),
            shown.panel.sinogramDisplay()->colorBar().minV());

        // Hidden again, a new slice changes the data at once, the picture on showing.
        // (Each slice's ramp fills the whole grey scale: the bar tells them apart.)
        hidden.panel.hide();
        const ColorBar &bar = hidden.panel.sinogramDisplay()->colorBar();
        const double minBefore = bar.minV();
        hidden.proc.setSliceNo(5);
        shown.proc.setSliceNo(5);
        QCOMPARE(hidden.panel.hSgm()->slice, 5);
        QCOMPARE(bar.minV(), minBefore);
        hidden.panel.show();
        QCOMPARE(hidden.panel.sinogramDisplay()->image(), shown.panel.sinogramDisplay()->image());
        QCOMPARE(bar.minV(), shown.panel.sinogramDisplay()->colorBar().minV());
        QVERIFY(bar.minV() != minBefore);
    }

    void horizontalAxisReadsColumns()
    {
        phantom::Stack s;
        QVERIFY(ramps(s));
        Rig r(&s.stack);
        r.proc.setSliceNo(5); // axis H: column 5, detector runs down the 8 rows
        r.proc.setCor(3.0); // half = min(3, 4) = 3, width 5, samples at rows 1 ... 5
        const HSgm *h = r.panel.hSgm();
        QVERIFY(h->built());
        QCOMPARE(h->width, 5);
        for (int j = 0; j < 5; ++j)
            QCOMPARE(h->rawRow(2)[j], 100 + 5 + 20 + 1000.0 * (j + 1));
    }

    void refusesSlicesAndCentresOutsideTheImage()
    {
        phantom::Stack s;
        QVERIFY(ramps(s));
        Rig r(&s.stack);
        r.proc.setRotAxIsV(true);
        r.proc.setSliceNo(3);
        r.proc.setCor(7.5);
        const HSgm *h = r.panel.hSgm();
        QVERIFY(h->built());
        const double kept = h->rawRow(0)[0];

        // Rows 0 ... 7 exist; other slices must not be read.
        for (int bad : { 8, -1, 100000 }) {
            r.proc.setSliceNo(bad);
            QCOMPARE(h->slice, 3);
            QCOMPARE(h->rawRow(0)[0], kept);
        }
        r.proc.setSliceNo(3);
        // A centre left of pixel 1 or beyond the last pixel gives no sinogram.
        for (double bad : { 0.7, -4.0, 15.2, 40.0 }) {
            r.proc.setCor(bad);
            QCOMPARE(h->width, 13);
            QCOMPARE(h->rawRow(0)[0], kept);
        }
        // Text that is no number reads as centre 0 and builds nothing either.
        QLineEdit *cor = r.panel.findChild<QLineEdit *>("Cor");
        cor->setText("abc");
        emit cor->editingFinished();
        QCOMPARE(r.proc.cor(), 0.0);
        QCOMPARE(h->rawRow(0)[0], kept);
    }

    void followsProcControlOnlyWithAutoUpdate()
    {
        phantom::Stack s;
        QVERIFY(ramps(s));
        Rig r(&s.stack);
        r.proc.setRotAxIsV(true);
        r.proc.setAutoUpdate(false);
        r.proc.setSliceNo(1);
        r.proc.setCor(7.0);
        QVERIFY(!r.panel.hSgm()->built());
        QVERIFY(r.panel.sinogramDisplay()->image().isNull());
        // The Cor field follows the centre even when nothing is rebuilt.
        QCOMPARE(r.panel.findChild<QLineEdit *>("Cor")->text(), QString("7"));

        r.panel.findChild<QPushButton *>("GenImg")->click();
        QVERIFY(r.panel.hSgm()->built());
        QCOMPARE(r.panel.hSgm()->slice, 1);
        QCOMPARE(r.panel.sinogramDisplay()->image().height(), 6);

        r.proc.setSliceNo(4);
        QCOMPARE(r.panel.hSgm()->slice, 1);
        r.proc.setAutoUpdate(true);
        QCOMPARE(r.panel.hSgm()->slice, 4);

        // A centre typed in the panel goes to Proc Control and comes back.
        QLineEdit *cor = r.panel.findChild<QLineEdit *>("Cor");
        cor->setText("5.123456789");
        emit cor->editingFinished();
        QCOMPARE(r.proc.cor(), 5.123456789);
        QCOMPARE(cor->text(), QString("5.12346"));
        QCOMPARE(r.panel.hSgm()->width, 9);
    }

    void fixedBarKeepsItsLimits()
    {
        phantom::Stack s;
        QVERIFY(ramps(s));
        Rig r(&s.stack);
        ColorBar &bar = r.panel.sinogramDisplay()->colorBar();
        bar.setFixColorScale(true);
        bar.setMinV(0.0);
        bar.setMaxV(1.0);
        r.proc.setRotAxIsV(true);
        r.proc.setSliceNo(0);
        r.proc.setCor(7.5);
        QVERIFY(!r.panel.sinogramDisplay()->image().isNull());
        QCOMPARE(bar.minV(), 0.0);
        QCOMPARE(bar.maxV(), 1.0);
        QCOMPARE(int(r.panel.sinogramDisplay()->image().constScanLine(0)[0]), 255);
    }

    void readsOutBothHalves()
    {
        phantom::Stack s;
        QVERIFY(ramps(s));
        Rig r(&s.stack);
        r.proc.setRotAxIsV(true);
        r.proc.setSliceNo(0);
        r.proc.setCor(7.5);
        QLineEdit *val = r.panel.sinogramDisplay()->findChild<QLineEdit *>("Val");
        QVERIFY(val);
        QMetaObject::invokeMethod(&r.panel, "newPos", Q_ARG(double, 2.7), Q_ARG(double, 1.2));
        QCOMPARE(val->text().toDouble(), 100 + 1.5 + 2 + 10.0);
        // Lower half, row 3 + 2 = image 2 mirrored: column 2 shows sample 12 - 2.
        QMetaObject::invokeMethod(&r.panel, "newPos", Q_ARG(double, 2.0), Q_ARG(double, 5.0));
        QCOMPARE(val->text().toDouble(), 100 + 1.5 + 10 + 20.0);
        // Outside the picture the field keeps its value.
        QMetaObject::invokeMethod(&r.panel, "newPos", Q_ARG(double, 13.0), Q_ARG(double, 0.0));
        QMetaObject::invokeMethod(&r.panel, "newPos", Q_ARG(double, 0.0), Q_ARG(double, 6.0));
        QCOMPARE(val->text().toDouble(), 100 + 1.5 + 10 + 20.0);
    }

    void fourierViewMatchesDirectTransform()
    {
        phantom::Stack s;
        QVERIFY(s.addAll(2, 8, 2, [](int k, int x, int) { return 1 + x * x + 7 * k; }));
        Rig r(&s.stack);
        r.proc.setRotAxIsV(true);
        r.proc.setSliceNo(0);
        r.proc.setCor(3.0); // width 5, rows 2
        const HSgm *h = r.panel.hSgm();
        QVERIFY(h->built());
        const int w = h->width, rows = h->rows;

        const std::vector<double> mag = Sinogram::fourierMagnitudes(*h);
        QCOMPARE(int(mag.size()), w * 2 * rows);
        const double sc = 1.0 / (2.0 * w * rows);
        auto full = [&](int row, int j) {
            return row < rows ? h->rawRow(row)[j] : h->rawRow(row - rows)[w - 1 - j];
        };
        for (int p = 0; p < 2 * rows; ++p)
            for (int q = 0; q < w; ++q) {
                std::complex<double> sum;
                for (int a = 0; a < 2 * rows; ++a)
                    for (int b = 0; b < w; ++b)
                        sum += full(a, b) * sc
                            * std::polar(
                                1.0, -2 * M_PI * (double(p) * a / (2 * rows) + double(q) * b / w));
                QVERIFY2(std::abs(std::abs(sum) - mag[p * w + q]) < 1e-9,
                    qPrintable(QString("bin %1 %2").arg(p).arg(q)));
            }

        // The picture appears only when asked for, with the range -10 ... 10.
        QVERIFY(r.panel.fourierDisplay()->image().isNull());
        r.panel.setGenFouS(true);
        const QImage &img = r.panel.fourierDisplay()->image();
        QCOMPARE(img.width(), w);
        QCOMPARE(img.height(), 2 * rows);
        const ColorBar &bar = r.panel.fourierDisplay()->colorBar();
        QCOMPARE(bar.minV(), -10.0);
        QCOMPARE(bar.maxV(), 10.0);
        QCOMPARE(int(img.constScanLine(0)[0]), bar.level(mag[0]));
    }

    void emptyStackGivesEmptyPictures()
    {
        phantom::Stack s;
        Rig r(&s.stack);
        r.panel.setGenFouS(true);
        r.proc.setCor(3.0);
        r.panel.genSinogram();
        r.panel.genImage();
        QVERIFY(!r.panel.hSgm()->built());
        QVERIFY(r.panel.sinogramDisplay()->image().isNull());
        QVERIFY(r.panel.fourierDisplay()->image().isNull());
        // Without a stack nothing is read at all.
        Sinogram alone;
        HSgm h;
        alone.genSinogram0(&h, true, 3.0, 0);
        QVERIFY(!h.built());
    }
};

VORLO_TEST(TestSinogramPanel)
#include "test_sinogram_panel.moc"
