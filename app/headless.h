#pragma once

#include "app/config_store.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

class Body;
class CommandTable;

// Runs without a window ("-nw"): ends the program by itself once there is
// nothing more to do. With a batch to run ("-b" and "-x") that is when the
// batch has ended, no calculation or loading goes on and every result file
// the data saver was handed is written (exit code 0); a batch file that
// cannot be opened ends the program with exit code 1 once the batch
// interpreter has reported it. Without a batch to run the program ends after
// start-up. While a range run goes on a short progress line goes to stderr.
class Headless : public QObject {
    Q_OBJECT
public:
    Headless(Body &body, const StartFlags &flags, QObject *parent = nullptr);
    ~Headless() override;

    // Before the application object exists: a run without a window on a
    // machine without a display uses the offscreen platform, unless a
    // platform was asked for (QT_QPA_PLATFORM or "-platform").
    static void choosePlatform(const ConfigStore &cs);

    // Starts watching; call after the batch has been loaded and started.
    void start();

    static constexpr int pollMs = 100;

signals:
    // The code the program should end with.
    void finished(int code);

private:
    void poll();
    void batchState(bool running);
    void flushSaver();
    void reportProgress();

    Body &body;
    StartFlags flags;
    std::unique_ptr<CommandTable> table; // read-only use: range progress
    QTimer timer;
    QElapsedTimer clock;
    bool pollPending = false; // a look at the batch thread is under way
    bool ending = false;
    bool loadFailed = false;
    int lastDone = -1;
    qint64 lastReportMs = -1;
};
