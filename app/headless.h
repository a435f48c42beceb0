#pragma once

#include "app/config_store.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

class Body;
class CommandTable;

// Runs without a window ("-nw"): ends the program by itself once there is
// nothing more to do, that is when the start-up work (the configuration's
// lines and the loadings and calculations they start) and the batch, if one
// is run ("-b" and "-x"), have ended, no calculation or loading goes on and
// every result file the data saver was handed is written. The exit code:
//   0  every requested result was computed and written whole;
//   1  the run could not start (the batch file cannot be opened);
//   2  at least one result failed (a slice that could not be reconstructed,
//      a file that could not be written);
//   3  an input file a command asked for was refused (takes precedence
//      over 2).
// While a range run goes on a short progress line goes to stderr.
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

    // How often the state is looked at: the program ends at most this long
    // after its last piece of work (each look is two queued calls, cheap).
    static constexpr int pollMs = 10;

    // The exit code of a run that has ended, from the counts of the main window.
    static int exitCode(int failedResults, int refusedInputs);

    // What starts a progress line: "vorlo2: ", and in a run split across
    // processes the rank and the number of ranks, "vorlo2: [2/4] ".
    static QByteArray progressPrefix();

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
