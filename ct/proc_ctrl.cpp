#include "ct/proc_ctrl.h"

#include "ui_proc_ctrl.h"
#include "util/trace_log.h"

#include <QButtonGroup>
#include <QDebug>
#include <algorithm>
#include <cstdlib>
#include <limits>

ProcCtrl::ProcCtrl(QWidget *parent)
    : QFrame(parent)
    , ui(std::make_unique<Ui::ProcCtrl>())
{
    ui->setupUi(this);
    sliceNo_ = parseInt(ui->SliceNo->text());
    cor_ = parseDouble(ui->Cor->text());
    clearRecordedCoR();
    ui->RotAxH->setChecked(true);
    rotAxIsV_ = ui->RotAxV->isChecked();

    connect(ui->AutoUpdate, &QCheckBox::toggled, this, &ProcCtrl::autoUpdateUpdated);
    connect(ui->AutoExecCtCalc, &QCheckBox::toggled, this, &ProcCtrl::autoExecUpdated);
    connect(ui->SliceNo, &QLineEdit::editingFinished, this, &ProcCtrl::sliceNoEditingFinished);
    connect(ui->Cor, &QLineEdit::editingFinished, this, &ProcCtrl::corEditingFinished);
    connect(ui->RotAxGroup, &QButtonGroup::buttonClicked, this, &ProcCtrl::rotAxSelectionChanged);
    connect(ui->RecCoR, &QPushButton::clicked, this, &ProcCtrl::recordCoR);
    connect(ui->ClearRecCoR, &QPushButton::clicked, this, &ProcCtrl::clearRecordedCoR);
    connect(ui->TryCor, &QPushButton::clicked, this, &ProcCtrl::tryCorClicked);
    connect(ui->FindCor, &QPushButton::clicked, this, &ProcCtrl::findCor);
}

ProcCtrl::~ProcCtrl() = default;

int ProcCtrl::parseInt(const QString &text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    return ok ? v : 0;
}

double ProcCtrl::parseDouble(const QString &text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok); // QString::toDouble is locale-independent
    return ok ? v : 0.0;
}

QString ProcCtrl::recordText(int slice, double cor)
{
    if (slice < 0)
        return QString();
    return QStringLiteral("%1 at %2").arg(QString::number(cor, 'g', 6)).arg(slice);
}

int ProcCtrl::sliceFrom() const { return parseInt(ui->SliceFrom->text()); }
int ProcCtrl::sliceTo() const { return parseInt(ui->SliceTo->text()); }
int ProcCtrl::sliceStep() const { return parseInt(ui->SliceStep->text()); }
double ProcCtrl::angleOffset() const { return parseDouble(ui->AngleOffset->text()); }
double ProcCtrl::tryCorFrom() const { return parseDouble(ui->TryCorFrom->text()); }
double ProcCtrl::tryCorTo() const { return parseDouble(ui->TryCorTo->text()); }
double ProcCtrl::tryCorStep() const { return parseDouble(ui->TryCorStep->text()); }
bool ProcCtrl::autoExec() const { return ui->AutoExecCtCalc->isChecked(); }
bool ProcCtrl::autoUpdate() const { return ui->AutoUpdate->isChecked(); }
int ProcCtrl::threads() const { return ui->Threads->value(); }
int ProcCtrl::maxThreads() const { return ui->Threads->maximum(); }

ReconFilterKind ProcCtrl::filter() const
{
    return reconFilterFromIndex(ui->FilterSel->currentIndex());
}

void ProcCtrl::setFilter(ReconFilterKind kind) { ui->FilterSel->setCurrentIndex(int(kind)); }

ReconMethod ProcCtrl::method() const
{
    return reconMethodFromIndex(ui->AlgorithmSel->currentIndex());
}

void ProcCtrl::setMethod(ReconMethod method) { ui->AlgorithmSel->setCurrentIndex(int(method)); }

int ProcCtrl::ringSize() const
{
    if (!ui->RingRemoval->isChecked())
        return 0;
    const int v = ui->RingSize->value(); // a typed even size is taken as the next odd one
    return v % 2 ? v : v + 1;
}

bool ProcCtrl::setRingRemoval(int size)
{
    if (size == 0) {
        ui->RingRemoval->setChecked(false);
        return true;
    }
    if (size < ringSizeMin || size > ringSizeMax)
        return false;
    ui->RingSize->setValue(size % 2 ? size : size + 1);
    ui->RingRemoval->setChecked(true);
    return true;
}

void ProcCtrl::setAutoExec(bool f) { ui->AutoExecCtCalc->setChecked(f); }
void ProcCtrl::setAutoUpdate(bool f) { ui->AutoUpdate->setChecked(f); }
void ProcCtrl::setThreads(int n) { ui->Threads->setValue(n); }

void ProcCtrl::setMaxThreads(int n)
{
    // The minimum stays 1 so that a range run always has a calculator, unless
    // the machine has none at all (then QSpinBox lowers the minimum with it).
    ui->Threads->setMaximum(n);
    ui->MaxThreads->setText(QStringLiteral("/%1").arg(n));
}

void ProcCtrl::setRotAxIsV(bool v)
{
    if (v == rotAxIsV_)
        return;
    rotAxIsV_ = v;
    if (v)
        ui->RotAxV->setChecked(true);
    else
        ui->RotAxH->setChecked(true);
    emit rotAxUpdated();
}

void ProcCtrl::setRecordedCor1(int slice, double cor)
{
    recordedSlice1_ = slice;
    recordedCor1_ = cor;
    showRecords();
}

void ProcCtrl::setRecordedCor2(int slice, double cor)
{
    recordedSlice2_ = slice;
    recordedCor2_ = cor;
    showRecords();
}

void ProcCtrl::showRecords()
{
    ui->RecordedCoR1->setText(recordText(recordedSlice1_, recordedCor1_));
    ui->RecordedCoR2->setText(recordText(recordedSlice2_, recordedCor2_));
}

void ProcCtrl::fillRunParams(CtRunParams &p, bool calcCt1, bool calcCt2) const
{
    p.calcCt1 = calcCt1;
    p.calcCt2 = calcCt2;
    p.rotAxIsV = rotAxIsV_;
    p.sliceNo = sliceNo_;
    p.cor = cor_;
    p.recordedCor1 = recordedCor1_;
    p.recordedCor2 = recordedCor2_;
    p.recordedSlice1 = recordedSlice1_;
    p.recordedSlice2 = recordedSlice2_;
    p.angleOffset = angleOffset();
    p.autoExec = autoExec();
    p.sliceFrom = sliceFrom();
    p.sliceTo = sliceTo();
    // The step runs from From towards To whatever sign was typed. A step of 0
    // would never leave the range, so it is taken as 1.
    long long step = std::llabs(static_cast<long long>(sliceStep()));
    if (step == 0)
        step = 1;
    step = std::min<long long>(step, std::numeric_limits<int>::max()); // |INT_MIN| does not fit
    p.sliceStep = static_cast<int>(p.sliceTo < p.sliceFrom ? -step : step);
    p.threads = threads();
    p.currentSlice = p.sliceFrom;
    p.upperLimit = 10.0;
    p.lowerLimit = -10.0;
    p.offset = 10.0;
    p.filter = filter();
    p.method = method();
    p.ringSize = ringSize();
}

double ProcCtrl::corForSlice(const CtRunParams &p, int slice)
{
    double c = p.cor;
    if (p.recordedSlice1 >= 0 && p.recordedSlice2 >= 0 && p.recordedSlice1 != p.recordedSlice2) {
        c = (p.recordedCor2 - p.recordedCor1) * (double(slice) - p.recordedSlice1)
                / (double(p.recordedSlice2) - p.recordedSlice1)
            + p.recordedCor1;
    }
    qCDebug(vorloTrace) << "pcps" << p.recordedSlice1 << p.recordedSlice2 << p.recordedCor1
                        << p.recordedCor2 << slice << c;
    return c;
}

void ProcCtrl::recordCoR()
{
    recordedCor2_ = recordedCor1_;
    recordedSlice2_ = recordedSlice1_;
    recordedCor1_ = cor_;
    recordedSlice1_ = sliceNo_;
    showRecords();
}

void ProcCtrl::clearRecordedCoR()
{
    recordedSlice1_ = recordedSlice2_ = -1;
    recordedCor1_ = recordedCor2_ = 0.0;
    showRecords();
}

void ProcCtrl::sliceNoEditingFinished()
{
    const int n = parseInt(ui->SliceNo->text());
    if (n == sliceNo_)
        return;
    sliceNo_ = n;
    emit sliceNoUpdated();
}

void ProcCtrl::corEditingFinished()
{
    const double c = parseDouble(ui->Cor->text());
    if (c == cor_) // false as well when either is not a number
        return;
    cor_ = c;
    emit corUpdated();
}

void ProcCtrl::rotAxSelectionChanged(QAbstractButton *)
{
    const bool v = ui->RotAxV->isChecked();
    if (v == rotAxIsV_)
        return;
    rotAxIsV_ = v;
    emit rotAxUpdated();
}

void ProcCtrl::setCor(double cor)
{
    if (cor == cor_)
        return;
    cor_ = cor;
    ui->Cor->setText(QString::number(cor, 'g', 6));
    emit corUpdated();
}

void ProcCtrl::setSliceNo(int sliceNo)
{
    if (sliceNo == sliceNo_)
        return;
    sliceNo_ = sliceNo;
    ui->SliceNo->setText(QString::number(sliceNo));
    emit sliceNoUpdated();
}

void ProcCtrl::setSliceFrom(int from) { ui->SliceFrom->setText(QString::number(from)); }
void ProcCtrl::setSliceTo(int to) { ui->SliceTo->setText(QString::number(to)); }
void ProcCtrl::setSliceStep(int step) { ui->SliceStep->setText(QString::number(step)); }

void ProcCtrl::setAngleOffset(double deg)
{
    ui->AngleOffset->setText(QString::number(deg, 'g', 6));
}

void ProcCtrl::setTryCor(double from, double to, double step)
{
    ui->TryCorFrom->setText(QString::number(from, 'g', 6));
    ui->TryCorTo->setText(QString::number(to, 'g', 6));
    ui->TryCorStep->setText(QString::number(step, 'g', 6));
}

void ProcCtrl::tryCorClicked() { emit tryCor(tryCorFrom(), tryCorTo(), tryCorStep()); }
