#pragma once

#include "app/batch_cmd.h"

#include <QString>

class Body;

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

    // Runs the command on the main window. Afterwards the main window's
    // callBatchCheckEnd() is emitted (a word that matches nothing counts as
    // done too), except for "calc_exec", whose end is the end of the
    // calculation it starts.
    void exec(const BatchCmd &cmd);

    // Writes the state of the controls as a setup file; false (and a log
    // line) when it cannot be written.
    bool saveSetup(const QString &fname);
    // Executes every line of a setup file; false (and a log line) when it
    // cannot be opened.
    bool loadSetup(const QString &fname);

private:
    Body &body;
};
