#include "xafs/xafs_batch.h"

XafsBatch::XafsBatch(QObject *parent)
    : QObject(parent)
{
}

qlonglong XafsBatch::stageDelta()
{
    const std::lock_guard<std::mutex> lock(clockMutex);
    if (!timer.isValid())
        return 0;
    const qint64 now = timer.elapsed();
    const qlonglong d = now - lastStageElapsed;
    lastStageElapsed = now;
    return d;
}

qint64 XafsBatch::totalElapsedMs() const
{
    const std::lock_guard<std::mutex> lock(clockMutex);
    return timer.isValid() ? timer.elapsed() : 0;
}

double XafsBatch::deltaSeconds(qlonglong dEtMs)
{
    // Integer division keeps 1999 ms at 1.9 s; a negative interval (clock
    // not started) shows as 0.
    return dEtMs <= 0 ? 0.0 : double(dEtMs / 100) / 10.0;
}

void XafsBatch::stageMessage(const QString &msg)
{
    const qlonglong d = stageDelta();
    emit stage(msg, d);
}

void XafsBatch::start()
{
    // The same button stops a running walk.
    if (walkRunning) {
        finish();
        return;
    }
    walkRunning = true;
    {
        const std::lock_guard<std::mutex> lock(clockMutex);
        timer.start();
        lastStageElapsed = 0;
    }
    emit starting();
    stageMessage(tr("Data Loading"));
    emit setFirstImageSet();
}

void XafsBatch::loadedDataSet()
{
    if (!walkRunning)
        return;
    stageMessage(tr("Calculating"));
    emit execCalculation();
}

void XafsBatch::calcFinished()
{
    if (!walkRunning)
        return;
    stageMessage(tr("Finished Calc."));
    emit setNextImageSet();
}

void XafsBatch::noMoreSets()
{
    if (walkRunning)
        finish();
}

void XafsBatch::finish()
{
    walkRunning = false;
    stageMessage(tr("Finished"));
    emit finished();
}
