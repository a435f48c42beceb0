#pragma once

#include "app/batch_cmd.h"

#include <QString>

#include <memory>

class Body;
class QTimer;

// The fixed table of command words that drives the main window without the
// mouse: configuration lines at start-up, the lines of a setup file and the
// lines of a batch file all end here. Most commands set a control of the
// main window or of one of its panels exactly as the user would; a few start
// work ("calc_exec", the loading and selection commands).
//
// The table also writes and reads setup files: the state of every control it
// knows, as the command lines that restore it.
class CommandTable {
public:
    explicit CommandTable(Body &body);
    ~CommandTable();

    // Runs the command on the main window (words in any letter case). When it
    // is done the main window's callBatchCheckEnd() is emitted; a word that
    // matches nothing counts as done at once. "calc_exec" is done when the
    // calculation it starts has ended, and a command that leaves images
    // loading (or waiting to load) is done when loading has ended, so that a
    // following "calc_exec" sees the whole stack.
    void exec(const BatchCmd &cmd);
    // Runs the command without answering the batch interpreter: for the
    // configuration's lines, which no batch command waits for. Work they
    // start (loading, a calculation) answers nothing when it ends.
    void execUnanswered(const BatchCmd &cmd) { run(cmd, false); }

    // True while a command waits for the end of loading before it counts as
    // done.
    bool isWaitingForLoad() const { return waitingForLoad; }

    // Writes the state of the controls as a setup file; false (and a log
    // line) when it cannot be written.
    bool saveSetup(const QString &fname);
    // Executes every line of a setup file in order; false (and a log line)
    // when it cannot be opened. Its lines are not answered to the batch
    // interpreter: a setup loaded while a batch runs must not let the batch
    // send its next command before the one in progress is done.
    bool loadSetup(const QString &fname);

    // Progress of the range run in progress: slices done of the total, both 0
    // when no range run is going on.
    int rangeDone() const;
    int rangeTotal() const;
    // The run in progress is a centre search: its steps are centres.
    bool rangeOfCentres() const;

private:
    // exec() with or without the answer to the batch interpreter.
    void run(const BatchCmd &cmd, bool answer);
    // Runs the action of the key that matches; false when "calc_exec" (or
    // "ct_try_cor") took over the end of the command. answer: a batch
    // command is waiting for this one's end.
    bool dispatch(const BatchCmd &cmd, bool answer);
    bool loadingGoesOn() const;
    void checkLoadEnd();

    Body &body;
    std::unique_ptr<QTimer> loadWatch; // polls for the end of loading
    bool waitingForLoad = false;
};
