#include "select/seek_ctrl.h"
#include "ui_seek_ctrl.h"

namespace {
constexpr int step = 10;
}

SeekCtrl::SeekCtrl(QWidget *parent) : QFrame(parent), ui(std::make_unique<Ui::SeekCtrl>())
{
    ui->setupUi(this);
    connect(ui->Seek, &QSlider::sliderMoved, this, &SeekCtrl::sliderMoved);
    connect(ui->Index, qOverload<int>(&QSpinBox::valueChanged), this, &SeekCtrl::indexChanged);
    connect(ui->Inc, &QToolButton::clicked, this, &SeekCtrl::inc);
    connect(ui->Dec, &QToolButton::clicked, this, &SeekCtrl::dec);
}

SeekCtrl::~SeekCtrl() = default;

int SeekCtrl::value() const
{
    return ui->Seek->value();
}

int SeekCtrl::maximum() const
{
    return ui->Seek->maximum();
}

void SeekCtrl::setMaximum(int max)
{
    ui->Seek->setMaximum(max);
    ui->Index->setMaximum(max);
}

void SeekCtrl::setValue(int v)
{
    ui->Index->setValue(v);
}

void SeekCtrl::reset()
{
    ui->Seek->setValue(0);
    ui->Index->setValue(0);
    setMaximum(0);
}

void SeekCtrl::sliderMoved(int val)
{
    ui->Index->setValue(val);
    emit newIndex(val);
}

void SeekCtrl::indexChanged(int val)
{
    ui->Seek->setValue(val);
    emit newIndex(val);
}

void SeekCtrl::inc()
{
    const int v = ui->Seek->value();
    stepTo(qMin(v + step, ui->Seek->maximum()));
}

void SeekCtrl::dec()
{
    const int v = ui->Seek->value();
    stepTo(v <= step ? 0 : v - step);
}

void SeekCtrl::stepTo(int target)
{
    if (target == ui->Seek->value())
        return;
    ui->Seek->setValue(target);
    ui->Index->setValue(target);
    emit newIndex(target);
}
