#pragma once
// The "Proc Control" panel: which slice is reconstructed and how the
// projections are placed (slice, centre of rotation, axis orientation, angle
// offset, slice range of a range run, number of parallel calculators and two
// recorded centres from which a centre varying linearly with the slice is
// derived). It computes nothing; it announces changes and fills CtRunParams.
#include "ct/ct_run_params.h"

#include <QFrame>
#include <memory>

class QAbstractButton;
namespace Ui {
class ProcCtrl;
}

class ProcCtrl : public QFrame {
    Q_OBJECT
public:
    explicit ProcCtrl(QWidget *parent = nullptr);
    ~ProcCtrl() override;

    // Values kept by the panel (updated when a field is left or a setter runs).
    bool rotAxIsV() const { return rotAxIsV_; }
    int sliceNo() const { return sliceNo_; }
    double cor() const { return cor_; }
    double recordedCor1() const { return recordedCor1_; }
    double recordedCor2() const { return recordedCor2_; }
    int recordedSlice1() const { return recordedSlice1_; }
    int recordedSlice2() const { return recordedSlice2_; }

    // Values read from their widgets each time they are asked.
    int sliceFrom() const;
    int sliceTo() const;
    int sliceStep() const; // as typed, sign included
    double angleOffset() const;
    double tryCorFrom() const;
    double tryCorTo() const;
    double tryCorStep() const;
    bool autoExec() const;
    bool autoUpdate() const;
    int threads() const;
    int maxThreads() const;

    // Filter of the back-projection (FilterSel), Ramp by default.
    ReconFilterKind filter() const;
    void setFilter(ReconFilterKind kind);
    // Reconstruction method (AlgorithmSel), the back-projection by default.
    ReconMethod method() const;
    void setMethod(ReconMethod method);
    // Window of the ring suppression: 0 when RingRemoval is unchecked (the
    // default), else the RingSize value (odd, 3 ... 99).
    int ringSize() const;
    // 0 unchecks RingRemoval and keeps RingSize; a size of 3 ... 99 checks it
    // and sets RingSize (an even size becomes the next odd one). False for
    // other sizes, which change nothing.
    bool setRingRemoval(int size);
    static constexpr int ringSizeMin = 3;
    static constexpr int ringSizeMax = 99;

    void setAutoExec(bool f);
    void setAutoUpdate(bool f);
    void setThreads(int n);
    void setMaxThreads(int n);
    void setRotAxIsV(bool v);
    void setRecordedCor1(int slice, double cor);
    void setRecordedCor2(int slice, double cor);

    void fillRunParams(CtRunParams &p, bool calcCt1, bool calcCt2) const;
    // Centre of rotation for a slice: the line through the two records when
    // both are set at different slices, otherwise the params' cor.
    static double corForSlice(const CtRunParams &p, int slice);

    // Field conversions shared by the panel: text that is not a number (or an
    // integer that does not fit in 32 bits) reads as 0.
    static int parseInt(const QString &text);
    static double parseDouble(const QString &text);
    static QString recordText(int slice, double cor);

signals:
    void autoUpdateUpdated();
    void autoExecUpdated();
    void rotAxUpdated();
    void sliceNoUpdated();
    void corUpdated();
    // The Try CoR button: a centre search over these centres (unchecked).
    void tryCor(double from, double to, double step);
    // The Find CoR button: find the centre of the current slice.
    void findCor();

private slots:
    void recordCoR();
    void sliceNoEditingFinished();
    void corEditingFinished();
    void rotAxSelectionChanged(QAbstractButton *button);
    void clearRecordedCoR();
    void tryCorClicked();

public slots:
    void setCor(double cor);
    void setSliceNo(int sliceNo);
    void setSliceFrom(int from);
    void setSliceTo(int to);
    void setSliceStep(int step);
    void setAngleOffset(double deg);
    // The three fields of the centre search (general format, 6 significant
    // digits); no signal.
    void setTryCor(double from, double to, double step);

private:
    void showRecords();

    std::unique_ptr<Ui::ProcCtrl> ui;
    bool rotAxIsV_ = false;
    int sliceNo_ = 0;
    double cor_ = 0.0;
    double recordedCor1_ = 0.0;
    double recordedCor2_ = 0.0;
    int recordedSlice1_ = -1;
    int recordedSlice2_ = -1;
};
