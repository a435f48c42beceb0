#include "ct/range_dispatch.h"

#include <QDebug>
#include <algorithm>
#include <climits>
#include <cstdlib>

int sliceThreadsFor(int threads, int calculators, qint64 slices)
{
    const int t = std::clamp(threads, 1, std::max(calculators, 1));
    const qint64 atOnce = std::clamp<qint64>(slices, 1, t);
    return int(t / atOnce);
}

int calculatorsFor(int threads, int calculators, qint64 slices)
{
    if (calculators < 1)
        return 0;
    const int t = std::clamp(threads, 1, calculators);
    return int(std::clamp<qint64>(slices, 1, t));
}

RangeDispatch::RangeDispatch(QObject *parent)
    : QObject(parent)
    , corFor([](const CtRunParams &p, int) { return p.cor; })
{
}

void RangeDispatch::setCalculatorCount(int n) { busy.resize(size_t(std::max(0, n)), false); }

void RangeDispatch::setCorFunction(CorFunction f)
{
    if (f)
        corFor = std::move(f);
}

bool RangeDispatch::isBusy(int calculator) const
{
    return calculator >= 0 && calculator < calculatorCount() && busy[size_t(calculator)];
}

void RangeDispatch::setShare(int sharePart, int shareParts)
{
    const bool valid = shareParts >= 1 && sharePart >= 0 && sharePart < shareParts;
    part = valid ? sharePart : 0;
    parts = valid ? shareParts : 1;
}

void RangeDispatch::startRange(const CtRunParams &p, bool genAndDispImage)
{
    corRun = false;
    shareRange = true;
    begin(p, p.sliceFrom, p.sliceTo, p.threads, true, genAndDispImage);
}

void RangeDispatch::startSingle(const CtRunParams &p, bool genAndDispImage)
{
    corRun = false;
    shareRange = false;
    begin(p, p.sliceNo, p.sliceNo, 1, false, genAndDispImage);
}

void RangeDispatch::startCors(const CtRunParams &p, int slice, const QVector<double> &centres)
{
    corRun = true;
    shareRange = false; // the centres are shared instead
    cors.clear();
    for (int k = 0; k < centres.size(); ++k)
        if (k % parts == part)
            cors.append(centres.at(k));
    nextCor = 0;
    corSlice = slice;
    // Also sets up the busy records and the threads as a range run does; the
    // slice range itself is not used.
    begin(p, slice, slice, p.threads, false, true);
}

void RangeDispatch::begin(const CtRunParams &p, qint64 first, qint64 last, int useThreads,
    bool slicewiseCor, bool genAndDispImage)
{
    params = p;
    from = first;
    to = last;
    qint64 size = std::llabs(qint64(p.sliceStep));
    if (size == 0)
        size = 1;
    stepSize = to < from ? -size : size;
    current = from;
    if (shareRange) {
        // This process's share: the part-th slice, then every parts-th.
        current = from + stepSize * part;
        stepSize *= parts;
    }
    threads = std::min(std::max(useThreads, 1), calculatorCount());
    perSliceCor = slicewiseCor;
    showResult = genAndDispImage;
    params.currentSlice = int(current);
    running = true;
    if (threads == 0)
        qDebug() << "No parallel calculator : the run ends at once";
    step();
}

void RangeDispatch::stop() { running = false; }

void RangeDispatch::calcFinished(int calculator)
{
    if (calculator >= 0 && calculator < calculatorCount())
        busy[size_t(calculator)] = false;
    step();
}

bool RangeDispatch::inRange(qint64 slice) const
{
    return from <= to ? (slice >= from && slice <= to) : (slice <= from && slice >= to);
}

// A calculator that lives in this thread may report back while startCt is
// still being emitted; the nested request is folded into the running loop so
// that every slice is handed out once and finished() is emitted once.
void RangeDispatch::step()
{
    if (stepping) {
        stepAgain = true;
        return;
    }
    stepping = true;
    do {
        stepAgain = false;
        stepOnce();
    } while (stepAgain);
    stepping = false;
}

void RangeDispatch::stepOnce()
{
    if (!running)
        return;
    if (corRun) {
        stepCors();
        return;
    }
    for (int i = 0; i < threads && running; ++i) {
        if (!inRange(current) || busy[size_t(i)])
            continue;
        const int slice = int(current);
        busy[size_t(i)] = true;
        current += stepSize;
        params.currentSlice = int(std::clamp<qint64>(current, INT_MIN, INT_MAX));
        const double cor = perSliceCor ? corFor(params, slice) : params.cor;
        emit startCt(i, params.rotAxIsV, cor, slice, showResult);
    }
    // Without any calculator the rest of the range can never be handed out.
    finishWhenDone(threads > 0 && inRange(current));
}

void RangeDispatch::finishWhenDone(bool workLeft)
{
    if (!running || workLeft)
        return;
    for (int i = 0; i < threads; ++i)
        if (busy[size_t(i)])
            return;
    running = false;
    emit finished();
}

void RangeDispatch::stepCors()
{
    for (int i = 0; i < threads && running && nextCor < cors.size(); ++i) {
        if (busy[size_t(i)])
            continue;
        busy[size_t(i)] = true;
        const double cor = cors.at(nextCor++);
        emit startTryCt(i, params.rotAxIsV, cor, corSlice);
    }
    finishWhenDone(threads > 0 && nextCor < cors.size());
}
