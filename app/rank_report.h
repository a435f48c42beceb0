#pragma once
// What one rank of a run split across processes reports to rank 0 at the
// end: its exit code, its counts for the summary line, and its share of every
// shared range run (the slices it was handed with their centres, its
// failures). Rank 0 merges the shares into its own record of each run and
// writes that record once.
#include "ct/run_record.h"

#include <QByteArray>
#include <QDateTime>
#include <QVector>

#include <memory>
#include <vector>

// One rank's share of one shared range run.
struct SplitRunShare {
    QVector<RunRecordSlice> slices; // in the order handed out
    QVector<RunRecordFailure> failed;
    int slicesDone = 0; // saved whole
    bool stopped = false; // stopped before its share was done
    QDateTime ended;
};

class RankReport {
public:
    int code = 0; // the rank's own exit code
    int slicesSaved = 0;
    int failedResults = 0;
    QVector<SplitRunShare> runs; // in the order the runs ended

    // The shares of the records a rank kept for rank 0.
    static SplitRunShare shareOf(const RunRecordFacts &facts);

    QByteArray pack() const;
    // False for bytes that are not a whole report (nothing is trusted from
    // them: counts are bounded by the bytes present).
    bool unpack(const QByteArray &bytes);

    // Rank 0's own record of a shared run completed with every rank's share
    // (its own included, in rank order): every slice once, in range order,
    // the failures, the slices done summed, stopped when any share was, the
    // latest end.
    static void merge(RunRecordFacts &record, const QVector<SplitRunShare> &shares, int ranks);
};
