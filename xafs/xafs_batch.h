#pragma once
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <atomic>
#include <mutex>

// The walk of a CT-XAFS run over data sets: load a set, reconstruct it, go on
// to the next, until the data-set list has no further set in the range.
// The main window does the work; this object only keeps the state and hands
// over by signals. Created without parent and moved to a QThread of the
// main window; reached only by queued signals.
//
// The stage clock counts from the press of "Seq. Calc.". The main window's
// own stage messages use it too (stageDelta(), totalElapsedMs()) from the GUI
// thread, and a second press ends the walk here while the main window may be
// writing a stage message of its own: the clock is guarded by a mutex.
class XafsBatch : public QObject {
    Q_OBJECT
public:
    explicit XafsBatch(QObject *parent = nullptr);

    bool isWalkRunning() const { return walkRunning; }
    // Milliseconds since the previous stage message; restarts the interval.
    // 0 before the first walk.
    qlonglong stageDelta();
    // Milliseconds since the walk was started, 0 before the first walk.
    qint64 totalElapsedMs() const;

    // For the progress fields: a stage interval in seconds rounded down to
    // tenths, and the whole seconds of the walk so far.
    static double deltaSeconds(qlonglong dEtMs);
    qint64 totalSeconds() const { return totalElapsedMs() / 1000; }

signals:
    void stage(QString msg, qlonglong dEt);
    void starting();
    void setFirstImageSet();
    void setNextImageSet();
    void execCalculation();
    void finished();

public slots:
    void start();
    void loadedDataSet();
    void calcFinished();
    void noMoreSets();
    void finish();

private:
    void stageMessage(const QString &msg);

    std::atomic<bool> walkRunning { false };
    mutable std::mutex clockMutex; // guards timer and lastStageElapsed
    QElapsedTimer timer;
    qint64 lastStageElapsed = 0;
};
