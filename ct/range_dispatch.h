#pragma once
// Hands the slices of a range run to idle parallel calculators.
//
// A range run covers sliceFrom, sliceFrom + step, ... while the slice lies
// between sliceFrom and sliceTo (inclusive, in either order), on the first
// `threads` calculators. Whenever a calculator reports that it has finished,
// the next slice goes to the first idle one; the run is finished when the range
// is exhausted and none of those calculators is busy any more.
//
// The dispatch lives in the GUI thread, like the main window that owns it: it
// alone reads and advances the current slice and keeps its own record of which
// calculator is busy (set when a slice is handed out, cleared when that
// calculator reports), so the calculators' threads are never read. Calculators
// are numbered 0 ... count - 1 in creation order.
#include "ct/ct_run_params.h"

#include <QObject>
#include <QVector>
#include <functional>
#include <vector>

// Threads one slice's back-projection may use when a run allowed `threads`
// threads (at most `calculators`, at least 1) reconstructs `slices` slices or
// centres: the threads its calculators would leave idle are shared out evenly
// between the slices that run at once, so the run never uses more than
// `threads` in total. A single slice gets them all.
int sliceThreadsFor(int threads, int calculators, qint64 slices);
// The parallel calculators such a run hands slices (or centres) to: the first
// min(threads, slices), at least 1 (a run with no calculator has none).
int calculatorsFor(int threads, int calculators, qint64 slices);

class RangeDispatch : public QObject {
    Q_OBJECT
public:
    // The centre of rotation of a slice; by default the fixed centre p.cor.
    using CorFunction = std::function<double(const CtRunParams &p, int slice)>;

    explicit RangeDispatch(QObject *parent = nullptr);

    // Number of calculators that exist. Their busy records are kept; new ones
    // start idle.
    void setCalculatorCount(int n);
    int calculatorCount() const { return int(busy.size()); }
    void setCorFunction(CorFunction f);

    // A range run over p.sliceFrom ... p.sliceTo. The step's size is |p.sliceStep|
    // and its direction that of the range; a step of 0 counts as 1, as does a
    // Threads value below 1; more threads than calculators use all of them.
    // Each slice gets the centre corFunction(p, slice). With no calculator at
    // all the run finishes at once.
    void startRange(const CtRunParams &p, bool genAndDispImage);
    // One slice, p.sliceNo with the centre p.cor, on the first calculator.
    void startSingle(const CtRunParams &p, bool genAndDispImage);
    // A centre search: slice `slice` once per centre, in the order given, each
    // centre handed out once to the first idle one of the first p.threads
    // calculators (below 1 counts as 1), announced by startTryCt. The run is
    // finished when every centre has been handed out and those calculators are
    // idle; with no centre it finishes at once.
    void startCors(const CtRunParams &p, int slice, const QVector<double> &cors);
    // Centres of the search not handed out yet.
    int corsLeft() const { return int(cors.size() - nextCor); }
    // A run shared with other processes: of the slices of a range run (and
    // the centres of a centre search) this process takes the k-th (from 0)
    // when k mod parts equals part, and hands those to its calculators as
    // usual. Applies to the runs started after the call; (0, 1), the default,
    // takes all. Single slices are never shared. Out-of-range values count as
    // (0, 1).
    void setShare(int part, int parts);
    int sharePart() const { return part; }
    int shareParts() const { return parts; }

    // Hands out no further slice; calculators still at work finish on their own
    // and are idle again when they report. finished() is not emitted.
    void stop();

    bool isRunning() const { return running; }
    // The next slice the run hands out.
    int currentSlice() const { return int(current); }
    bool isBusy(int calculator) const;
    // Calculators taking part in the run (the first ones).
    int threadsUsed() const { return threads; }

public slots:
    // Calculator `calculator` has finished its slice: it is idle again and the
    // run goes on.
    void calcFinished(int calculator);

signals:
    void startCt(int calculator, bool rotAxIsV, double cor, int slice, bool genAndDispImage);
    // One reconstruction of a centre search.
    void startTryCt(int calculator, bool rotAxIsV, double cor, int slice);
    // The range is exhausted and every calculator of the run is idle.
    void finished();

private:
    void begin(const CtRunParams &p, qint64 from, qint64 to, int useThreads, bool perSliceCor,
        bool genAndDispImage);
    void step();
    void stepOnce();
    void stepCors();
    // Ends the run once nothing is left to hand out and every calculator in
    // use is idle.
    void finishWhenDone(bool workLeft);
    bool inRange(qint64 slice) const;

    CorFunction corFor;
    std::vector<bool> busy;
    CtRunParams params;
    bool running = false;
    bool perSliceCor = true;
    bool showResult = true;
    // 64 bits: stepping past the end of a range near the int limits must not overflow.
    qint64 from = 0;
    qint64 to = 0;
    qint64 stepSize = 1;
    qint64 current = 0;
    int threads = 1;
    bool stepping = false;
    bool stepAgain = false;
    // A centre search instead of a range: its centres and the next to hand out.
    bool corRun = false;
    QVector<double> cors;
    int nextCor = 0;
    int corSlice = 0;
    int part = 0;
    int parts = 1;
    bool shareRange = false; // the run in progress is a shared range run
};
