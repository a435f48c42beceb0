#include "ct/ct_calc2_ui.h"

#include "ct/ct_calc2.h"
#include "display/color_bar.h"
#include "display/disp_a.h"
#include "display/img_disp_wpv.h"
#include "ui_ct_calc2_ui.h"

#include <QCheckBox>
#include <QDateTime>
#include <QPainter>
#include <QPen>
#include <cmath>

namespace {

QString numText(double v) { return QString::number(v, 'g', 6); }

// Decimal of a field; text that is not a number reads 0.
double fieldValue(const QLineEdit *e) { return e->text().toDouble(); }

} // namespace

CtCalc2Ui::CtCalc2Ui(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::CtCalc2Ui>())
{
    ui->setupUi(this);
    connect(ui->SetCRegion, &QPushButton::clicked, this, &CtCalc2Ui::setCRegion);
    connect(ui->DispCt, &ImgDisp::newS, this, &CtCalc2Ui::noticedNewS);
    connect(ui->DispCt, &ImgDispWPV::newPosInvY, this, &CtCalc2Ui::noticedNewPos);
    connect(ui->DispCt, &DispAWLayout::drawImage2, this, &CtCalc2Ui::drawRegion);
    // A region typed by hand goes to the calculator as it is.
    for (QLineEdit *e : { ui->Crx0, ui->Crz0, ui->Crx1, ui->Crz1 })
        connect(e, &QLineEdit::editingFinished, this, &CtCalc2Ui::pushRegion);
    // The initial region does not count as set.
    ui->Crx0->setText(numText(0));
    ui->Crz0->setText(numText(0));
    ui->Crx1->setText(numText(2047));
    ui->Crz1->setText(numText(2047));
}

CtCalc2Ui::~CtCalc2Ui() = default;

void CtCalc2Ui::setCtCalc2(CtCalc2 *c)
{
    if (calc || !c)
        return;
    calc = c;
    c->setUi(this);
    connect(c, &CtCalc2::sliceStarted, this, &CtCalc2Ui::sliceStarted);
    connect(c, &CtCalc2::sliceEnded, this, &CtCalc2Ui::sliceEnded);
    connect(c, &CtCalc2::calcRegionDefaulted, this, &CtCalc2Ui::setCR);
    connect(c, &CtCalc2::resultRangeFound, this, &CtCalc2Ui::showResultRange);
    connect(c, &CtCalc2::resultImageBuilt, this, &CtCalc2Ui::showResultImage);
    connect(c, &CtCalc2::valueFound, this, &CtCalc2Ui::showValue);
    connect(this, &CtCalc2Ui::calcRegionChanged, c, &CtCalc2::setCalcRegion);
    connect(this, &CtCalc2Ui::levelsChanged, c, &CtCalc2::setLevels);
    connect(this, &CtCalc2Ui::valueRequested, c, &CtCalc2::lookUpValue);
    // A change of the colour bar rebuilds the calculator's image.
    connect(ui->DispCt, &ImgDispWCBar::newBar, this, &CtCalc2Ui::pushLevels);
    // The bar's "Fix" box changes no mapping, so it sends no newBar(); the
    // calculator must still learn whether the range is fixed.
    if (auto *fix = ui->DispCt->colorBar().controlPanel()->findChild<QCheckBox *>("CFix"))
        connect(fix, &QCheckBox::toggled, this, &CtCalc2Ui::pushLevels);
    pushRegion();
    pushLevels();
}

ImgDispWPV *CtCalc2Ui::dispCt() const { return ui->DispCt; }

double CtCalc2Ui::crx0() const { return fieldValue(ui->Crx0); }

double CtCalc2Ui::crz0() const { return fieldValue(ui->Crz0); }

double CtCalc2Ui::crx1() const { return fieldValue(ui->Crx1); }

double CtCalc2Ui::crz1() const { return fieldValue(ui->Crz1); }

int CtCalc2Ui::shownSliceNo() const { return ui->ShowSliceNo->text().toInt(); }

LevelMap CtCalc2Ui::levelMap() const { return ui->DispCt->colorBar().levelMap(); }

bool CtCalc2Ui::colorScaleFixed() const { return ui->DispCt->colorBar().isFixed(); }

void CtCalc2Ui::noticedNewPos(double x, double z) { emit valueRequested(x, z); }

void CtCalc2Ui::noticedNewS(QRectF s)
{
    setDR(s.left(), s.top(), s.left() + s.width(), s.top() + s.height());
}

void CtCalc2Ui::setCRegion()
{
    setCR(std::floor(fieldValue(ui->Drx0)), std::floor(fieldValue(ui->Drz0)),
        std::ceil(fieldValue(ui->Drx1)), std::ceil(fieldValue(ui->Drz1)));
}

void CtCalc2Ui::showStartTime()
{
    startT = QDateTime::currentDateTime();
    ui->StartT->setText(startT.toString("hh:mm:ss.zzz"));
}

void CtCalc2Ui::showEndTime()
{
    endT = QDateTime::currentDateTime();
    ui->EndT->setText(endT.toString("hh:mm:ss.zzz"));
}

void CtCalc2Ui::showSpentT() { ui->SpentT->setText(numText(startT.msecsTo(endT) / 1000.0)); }

void CtCalc2Ui::showSliceNo(int no) { ui->ShowSliceNo->setText(QString::number(no)); }

void CtCalc2Ui::newImage() { ui->DispCt->newImage(); }

void CtCalc2Ui::saveImage(QString fname) { ui->DispCt->saveImage(fname); }

void CtCalc2Ui::setCR(double rx0, double rz0, double rx1, double rz1)
{
    const bool same = fieldValue(ui->Crx0) == rx0 && fieldValue(ui->Crz0) == rz0
        && fieldValue(ui->Crx1) == rx1 && fieldValue(ui->Crz1) == rz1;
    ui->Crx0->setText(numText(rx0));
    ui->Crz0->setText(numText(rz0));
    ui->Crx1->setText(numText(rx1));
    ui->Crz1->setText(numText(rz1));
    if (!same)
        crSet = true;
    pushRegion();
    if (!same)
        emit cRUpdated(rx0, rz0, rx1, rz1);
}

void CtCalc2Ui::setDR(double rx0, double rz0, double rx1, double rz1)
{
    const bool same = fieldValue(ui->Drx0) == rx0 && fieldValue(ui->Drz0) == rz0
        && fieldValue(ui->Drx1) == rx1 && fieldValue(ui->Drz1) == rz1;
    ui->Drx0->setText(numText(rx0));
    ui->Drz0->setText(numText(rz0));
    ui->Drx1->setText(numText(rx1));
    ui->Drz1->setText(numText(rz1));
    if (same)
        return;
    dRegion = QRectF(rx0, rz0, rx1 - rx0, rz1 - rz0);
    showDRegion = true;
    ui->DispCt->dispA()->update();
    emit dRUpdated(rx0, rz0, rx1, rz1);
}

void CtCalc2Ui::setFixColorScale(bool f)
{
    ui->DispCt->colorBar().setFixColorScale(f);
    pushLevels();
}

void CtCalc2Ui::setCBarMinMaxForced(double min, double max)
{
    ColorBar &bar = ui->DispCt->colorBar();
    bar.setMinV(min);
    bar.setMaxV(max);
    bar.update();
    pushLevels();
}

void CtCalc2Ui::sliceStarted(int slice)
{
    showStartTime();
    showSliceNo(slice);
}

void CtCalc2Ui::sliceEnded()
{
    showEndTime();
    showSpentT();
}

void CtCalc2Ui::showResultImage(QImage img)
{
    ui->DispCt->image() = img;
    newImage();
}

void CtCalc2Ui::showResultRange(double minV, double maxV)
{
    ColorBar &bar = ui->DispCt->colorBar();
    if (bar.isFixed())
        return;
    bar.setMinV(minV);
    bar.setMaxV(maxV);
    bar.update();
}

void CtCalc2Ui::showValue(double v) { ui->DispCt->setVal(v); }

void CtCalc2Ui::pushRegion() { emit calcRegionChanged(crx0(), crz0(), crx1(), crz1(), crSet); }

void CtCalc2Ui::pushLevels() { emit levelsChanged(levelMap(), colorScaleFixed()); }

void CtCalc2Ui::drawRegion(QPainter *p)
{
    if (!showDRegion)
        return;
    const ChCoord &c = ui->DispCt->dispA()->coord();
    const QPointF a(c.dataToPixelX(dRegion.left()), c.dataToPixelY(dRegion.top()));
    const QPointF b(c.dataToPixelX(dRegion.right()), c.dataToPixelY(dRegion.bottom()));
    p->setPen(QPen(Qt::red, 1));
    p->setBrush(Qt::NoBrush);
    p->drawRect(QRectF(a, b).normalized());
}
