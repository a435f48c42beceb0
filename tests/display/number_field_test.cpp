// Number fields show their whole text: sign, six significant digits and the
// exponent, in the read-out row of the image displays and in the colour
// bar's limits, at the smallest size the display allows and at a large one.
#include "display/color_bar.h"
#include "display/img_disp_wpv.h"
#include "display/number_field.h"
#include "tests/test_registry.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QTest>

namespace {
// Width of the ink the field paints inside its frame: from the first to the
// last column holding a dark pixel.
int inkSpan(QLineEdit *e)
{
    const QImage shot = e->grab().toImage();
    const QRect inside = QRect(QPoint(), shot.size()).adjusted(3, 3, -3, -3);
    int first = -1;
    int last = -1;
    for (int x = inside.left(); x <= inside.right(); ++x)
        for (int y = inside.top(); y <= inside.bottom(); ++y)
            if (qGray(shot.pixel(x, y)) < 128) {
                if (first < 0)
                    first = x;
                last = x;
                break;
            }
    return first < 0 ? 0 : last - first + 1;
}

// The field shows text whole: the widget's own painting (grabbed, so that
// its scrolling is that of a paint) leaves nothing out, and the ink it
// paints spans about the text's width (a field that cuts the start of its
// text paints only the last digits).
bool paintsWhole(QLineEdit *e, const QString &text)
{
    e->setText(text);
    // A longer text widens the field through the layout, as the event loop
    // would lay it out before the next paint.
    QCoreApplication::processEvents();
    e->grab();
    if (!showsWholeText(e))
        return false;
    return inkSpan(e) >= 0.85 * e->fontMetrics().horizontalAdvance(text);
}

const QStringList values { "-0.0171481", "0.0883692", "26459", "-2.14748e+09", "1.23457e+06",
    "-0.000123457", "-1.23457e-308" };
} // namespace

class NumberFieldTest : public QObject {
    Q_OBJECT
private slots:
    void narrowFieldIsCaught()
    {
        // The checks themselves: a right-aligned field of 50 pixels cuts
        // "-0.0171481" to its last digits.
        QLineEdit e;
        e.setAlignment(Qt::AlignRight);
        e.setReadOnly(true);
        e.setFixedWidth(50);
        e.show();
        QVERIFY(QTest::qWaitForWindowExposed(&e));
        QVERIFY(!paintsWhole(&e, "-0.0171481"));
        QVERIFY(inkSpan(&e) < 0.85 * e.fontMetrics().horizontalAdvance("-0.0171481"));
        fitNumberField(&e);
        QVERIFY(paintsWhole(&e, "-0.0171481"));
    }

    void readOutAndLimitsShowWholeNumbers_data()
    {
        QTest::addColumn<bool>("smallest");
        QTest::newRow("smallest size") << true;
        QTest::newRow("large size") << false;
    }

    void readOutAndLimitsShowWholeNumbers()
    {
        QFETCH(bool, smallest);
        ImgDispWPV d;
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        d.resize(smallest ? d.minimumSizeHint() : QSize(1200, 900));
        QTest::qWait(20);
        QVERIFY(smallest ? d.width() <= d.minimumSizeHint().width() + 1 : d.width() >= 1000);
        QList<QLineEdit *> fields;
        for (const char *name : { "PosX", "PosY", "Val", "CMinLE", "CMaxLE" }) {
            auto *e = d.findChild<QLineEdit *>(name);
            QVERIFY2(e, name);
            fields << e;
        }
        for (QLineEdit *e : fields)
            for (const QString &v : values)
                QVERIFY2(paintsWhole(e, v), qPrintable(e->objectName() + " " + v));
        // The displays set them as numbers, too.
        d.setVal(-0.0171481);
        d.colorBar().setMinV(-0.000123457);
        d.colorBar().setMaxV(1234567);
        d.noticedNewPos(-26459, 1234567);
        d.grab();
        for (QLineEdit *e : fields)
            QVERIFY2(showsWholeText(e), qPrintable(e->objectName() + " " + e->text()));
        QCOMPARE(fields.at(2)->text(), QString("-0.0171481"));
        QCOMPARE(fields.at(4)->text(), QString("1.23457e+06"));
    }

    void twoDisplaysSideBySideStayNarrow()
    {
        // The sinogram panel shows two displays in a row: each must stay
        // narrow enough that both fit beside the controls on a 1366 pixel screen.
        ImgDispWPV d;
        QVERIFY(d.minimumSizeHint().width() <= 520);
    }
};

VORLO_TEST(NumberFieldTest)
#include "number_field_test.moc"
