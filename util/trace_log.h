#pragma once
// The program's routine trace: the echo of every command, the centre used
// for each slice, every connection try to the analyser. Off by default, so
// that the console shows problems, progress and the batch's own output;
// the option -v or QT_LOGGING_RULES="vorlo2.trace.debug=true" turns it on.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(vorloTrace)

// Turns the trace on (or back off) for the rest of the run; the
// QT_LOGGING_RULES environment variable still has the last word.
void setTraceLogging(bool on);
