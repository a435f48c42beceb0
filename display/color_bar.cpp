#include "display/color_bar.h"

#include "ui_cbar_ui.h"

#include "display/number_field.h"

#include <QPainter>
#include <cmath>

ColorBar::ColorBar(QWidget *parent)
    : DispA(parent)
    , uiHolder(new QFrame)
    , ui(new Ui::CBarUI)
{
    ui->setupUi(uiHolder.get());
    // The limits show any value whole, wider than the form's 60 pixels if need be.
    fitNumberField(ui->CMinLE);
    fitNumberField(ui->CMaxLE);
    connect(ui->CMinLE, &QLineEdit::editingFinished, this, &ColorBar::minVEdited);
    connect(ui->CMaxLE, &QLineEdit::editingFinished, this, &ColorBar::maxVEdited);
    connect(this, &DispA::drawImage1, this, &ColorBar::draw1);
    connect(this, &DispA::mouseMoved0, this, &ColorBar::onMouseMoved);
    connect(this, &DispA::mousePressed0, this, &ColorBar::onMousePressed);
    connect(this, &DispA::mouseReleased0, this, &ColorBar::onMouseReleased);
    setMinV(0);
    setMaxV(1);
}

// The control panel may have been moved into the owner's layout; the holder
// then no longer contains it and the owner's frame destroys it.
ColorBar::~ColorBar() = default;

void ColorBar::setMinV(double v)
{
    minV_ = v;
    ui->CMinLE->setText(QString::number(v, 'g', 6));
}

void ColorBar::setMaxV(double v)
{
    maxV_ = v;
    ui->CMaxLE->setText(QString::number(v, 'g', 6));
}

bool ColorBar::isFixed() const { return ui->CFix->isChecked(); }

QFrame *ColorBar::controlPanel() const { return ui->CBarUIBase; }

void ColorBar::draw1(QPainter *p)
{
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0)
        return;

    // Row i counts from the bottom; its level is the mapping of the fraction
    // i / h of the scale, so the ramp shows exactly what level() does.
    const LevelMap ramp { 0.0, 1.0, lo_, hi_ };
    for (int i = 0; i < h; ++i) {
        const int l = ramp.level(double(i) / h);
        p->setPen(QColor(l, l, l));
        p->drawLine(0, h - 1 - i, w - 1, h - 1 - i);
    }

    p->setPen(QColor(0, 192, 255));
    const int yHi = int((1.0 - hi_) * h);
    const int yLo = int((1.0 - lo_) * h);
    p->drawLine(0, yHi, w - 1, yHi);
    p->drawLine(0, yLo, w - 1, yLo);

    p->setPen(QColor(0, 255, 192));
    const QFont f = font();
    const double cx = w / 2;
    drawText.drawFitted(p, 90, DrawText::Box { cx, 50.0, 95.0, double(w) }, f,
        Qt::AlignLeft | Qt::AlignVCenter, true, QString::number(maxV_, 'g', 6), 10, false,
        QColor());
    drawText.drawFitted(p, 90, DrawText::Box { cx, double(h - 50), 95.0, double(w) }, f,
        Qt::AlignRight | Qt::AlignVCenter, true, QString::number(minV_, 'g', 6), 10, false,
        QColor());
    if (dragging_) {
        const double v = (maxV_ - minV_) * *active + minV_;
        drawText.drawFitted(p, 90, DrawText::Box { cx, double(h / 2), 95.0, double(w) }, f,
            Qt::AlignRight | Qt::AlignVCenter, true, QString::number(v, 'g', 6), 10, false,
            QColor());
    }
}

void ColorBar::onMousePressed()
{
    const double h = height();
    if (h <= 0)
        return;
    const double f = (h - mouse().pos.y()) / h;
    const double dLo = std::fabs(lo_ - f);
    const double dHi = std::fabs(hi_ - f);
    // Half-way between the handles neither is taken and nothing is dragged.
    if (dLo > dHi) {
        active = &hi_;
        dragging_ = true;
    } else if (dHi > dLo) {
        active = &lo_;
        dragging_ = true;
    }
}

void ColorBar::onMouseMoved()
{
    if (!mouse().pressed)
        return;
    bool changed = false;
    if (dragging_ && height() > 0) {
        const double h = height();
        const double f = (h - mouse().pos.y()) / h;
        changed = *active != f;
        *active = f;
    }
    update();
    // Only a real change of the mapping makes the owners rebuild their images.
    if (changed)
        emit newBar();
}

void ColorBar::onMouseReleased()
{
    dragging_ = false;
    update();
}

void ColorBar::minVEdited()
{
    minV_ = ui->CMinLE->text().toDouble();
    update();
    emit newBar();
}

void ColorBar::maxVEdited()
{
    maxV_ = ui->CMaxLE->text().toDouble();
    update();
    emit newBar();
}

void ColorBar::setFixColorScale(bool f) { ui->CFix->setChecked(f); }
