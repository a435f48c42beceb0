#pragma once
// The run record of a range run: one plain-text file "<name>-<tag>-run.txt"
// beside the files the run saved, with what is needed to run it again (date,
// program version, input files, I0 and BG, the centre of every slice, slice
// range and step, angle offset, calculation region, data limits, threads, the
// back-projection routine, the filter, the method and the ring removal).
//
// Lines are "key : value" with the keys padded to one column, so that a person
// reads them as a table and a script splits each line at its first " : ". The
// slices follow as "slice 00032 centre 512.25" lines (slice label as in the
// saved file names), then one "failed 00033 : reason" line per slice that was
// not computed or not saved whole. Decimals are written in the shortest form that reads back
// to the same double, so 512.3 stays "512.3" and nothing is rounded away.
//
// GUI-free: the main window collects the facts, this file makes and writes
// the text.
#include "ct/ct_run_params.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// Where one auto-save kind writes: its base folder, name and tag.
struct RunRecordTarget {
    QString kind; // "image", "data", "tiff"
    QString path;
    QString name;
    QString tag;
};

// One folder that gets a record, with the kinds saved under it.
struct RunRecordPlace {
    QString path;
    QString name;
    QString tag;
    QStringList kinds; // in the order the targets were listed
};

struct RunRecordSlice {
    int slice = 0;
    double cor = 0.0; // centre of rotation handed to the calculator, detector pixels
};

// A slice of the run that yielded no file, or not every file it should have.
struct RunRecordFailure {
    int slice = 0;
    QString why;
};

// A calculation region in grid pixels, as (x0, z0)-(x1, z1).
struct RunRecordRegion {
    bool set = false; // false: the calculator uses its whole N x N grid
    double x0 = 0, z0 = 0, x1 = 0, z1 = 0;
};

struct RunRecordFacts {
    QDateTime started;
    QDateTime ended;
    QString version;
    QStringList inputFiles; // the measured images in stack order (full paths)
    int projections = 0; // images in the stack
    QString i0Path; // empty: none
    QString bgPath;
    CtRunParams params; // as filled at the start of the run
    // Every slice handed out, in that order. After a stop the ones still being
    // computed finish and are saved all the same, so they are listed too.
    QVector<RunRecordSlice> slices;
    int slicesDone = 0; // slices computed and saved whole when the run ended
    QVector<RunRecordFailure> failed; // slices not computed or not saved, in the order met
    bool stopped = false; // stopped by hand before the range was exhausted
    int threadsUsed = 0; // calculators that took part
    QString kernel; // the back-projection routine the calculators ran (bpRoutineName)
    QVector<RunRecordRegion> regions; // one per calculator that took part
    QVector<RunRecordTarget> targets; // the auto-save kinds that were on
    // Processes (MPI ranks) that shared the slices; 1: this process alone.
    int ranks = 1;
};

// The program version: the application's own when it set one, otherwise the
// project version the program was built with.
QString runRecordVersion();

// "<name>-<tag>-run.txt".
QString runRecordFileName(const QString &name, const QString &tag);

// The slices a range run covers: sliceFrom, sliceFrom + step, ... up to
// sliceTo inclusive, the step's size |sliceStep| (0 counts as 1) and its
// direction that of the range.
int runRecordPlannedSlices(const CtRunParams &p);

// A wildcard that matches every file name (without folder) of the list: their
// common beginning, "*", their common end; the name itself when there is one.
QString runRecordPattern(const QStringList &fileNames);

// One place per distinct (path, name, tag), in the order first met; targets
// with an empty path are left out (nothing of theirs is saved).
QVector<RunRecordPlace> runRecordPlaces(const QVector<RunRecordTarget> &targets);

// The text of the record for one place.
QByteArray runRecordText(const RunRecordFacts &facts, const RunRecordPlace &place);

// Writes the record into the place's base folder through a temporary file, so
// that a failed write leaves no partial record. false plus the log line
// "Can't write file : " and the path on failure.
bool writeRunRecord(const RunRecordFacts &facts, const RunRecordPlace &place);
