#pragma once

#include "app/batch_cmd.h"

#include <QObject>
#include <QStringList>

#include <atomic>

// The batch interpreter. It lives in a thread of its own, executes a loaded
// batch file one line at a time and handles the control lines (":ifok",
// ":ifng", ":goto", ":end", ":stop", ":echo") itself. Every other line goes to
// the receiver as batchExCmd(); the receiver answers with batchCheckEnd()
// when the command is done, and only then is the next line taken.
//
// Control lines are chained through this thread's event queue, so a loop made
// only of control lines still lets a second batchExec() in to stop it.
class Batch : public QObject {
    Q_OBJECT
public:
    explicit Batch(QObject *parent = nullptr);

    // The result of the last condition-setting command; the receiver sets it
    // (for "seq_exec_next") before it answers with batchCheckEnd().
    void setOk(bool value) { ok = value; }
    bool isOk() const { return ok; }

    // Read these from the batch thread (or while it is idle).
    bool isRunning() const { return running; }
    int currentIndex() const { return index; }
    QStringList loadedLines() const { return lines; }

signals:
    void batchExecNext();
    void batchFinishALine();
    void batchExCmd(BatchCmd cmd);

private slots:
    void batchStart();
    void batchStop();
    void batchNext();

public slots:
    void batchLoad(QString fname);
    void batchExec();
    void batchCheckEnd();

private:
    void requestNext();

    bool running = false;
    int index = 0; // next line to execute, from 0
    QStringList lines; // comments removed, empty lines left out
    std::atomic<bool> ok { true };
    bool nextPending = false; // a batchNext() is already queued
};
