#pragma once
// Where this process stands among the ranks of a run split across several
// processes: its rank (0 ... size - 1) and the number of ranks. A program
// that was not started by an MPI launcher is rank 0 of 1. Set once at start,
// before the main window is built, and read-only afterwards.
struct RankPlace {
    int rank = 0;
    int size = 1;

    bool split() const { return size > 1; }
    // Rank 0 alone writes the files that are not split (setup files,
    // single-slice results) and talks to the analyser.
    bool leads() const { return rank == 0; }
    // The k-th item (from 0) of a list split over the ranks goes to rank
    // k mod size.
    bool owns(long long k) const { return size <= 1 || (k >= 0 && k % size == rank); }
    // How many of `total` items rank `rank` gets.
    static int share(int total, int rank, int size)
    {
        if (size <= 1)
            return total;
        if (total <= rank || rank < 0)
            return 0;
        return (total - rank + size - 1) / size;
    }
};

inline RankPlace &rankPlace()
{
    static RankPlace place;
    return place;
}
