#pragma once
// The program as one of several cooperating processes (ranks) started by an
// MPI launcher: mpirun/mpiexec of Open MPI, or srun inside a SLURM job.
//
// This is the only place that talks to MPI; the rest of the program sees the
// rank and the number of ranks as two plain numbers (util/rank_place.h). The
// program joins MPI only when a launcher's environment says it started the
// process: a program started by hand never initialises MPI. Built without
// MPI (VORLO_MPI off), a launcher is still recognised but joining fails with
// a log line.
//
// Every MPI call is made from the thread that called join() (the main thread,
// MPI_THREAD_FUNNELED). The collectives below must be reached the same number
// of times, in the same order, by every rank; the program reaches them only
// once, at its end, so that a rank whose batch took another path (a refused
// file, a failed calculation) still meets the others there.
#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>
#include <thread>

// What the environment tells about a launcher, before any MPI call.
struct MpiLauncher {
    bool present = false; // an MPI launcher started this process
    QString kind; // "Open MPI", "PMIx", "PMI", "SLURM"
    int rank = -1; // -1: not told by the environment
    int size = -1; // -1: not told (known only after joining)
};

class MpiWorld {
public:
    // Looks a variable up; empty when it is not set.
    using EnvLookup = std::function<QByteArray(const char *name)>;

    // Open MPI's mpirun sets OMPI_COMM_WORLD_RANK/SIZE; a PMIx server
    // (srun --mpi=pmix, or Open MPI's) PMIX_RANK; PMI-1/2 (srun --mpi=pmi2,
    // Hydra) PMI_RANK and PMI_SIZE. SLURM's own SLURM_PROCID and
    // SLURM_STEP_NUM_TASKS count only inside a job step (SLURM_STEP_ID) with
    // one of the PMI variables: a batch script itself, which has SLURM_PROCID
    // 0, is not an MPI launch. Numbers that are not numbers are ignored.
    static MpiLauncher launcherFrom(const EnvLookup &env);
    static MpiLauncher launcherFromProcess();

    // True when the program was built with MPI.
    static bool built();

    MpiWorld() = default;
    MpiWorld(const MpiWorld &) = delete;
    MpiWorld &operator=(const MpiWorld &) = delete;
    // Leaves MPI if join() succeeded and leave() was not called.
    ~MpiWorld();

    // MPI_Init_thread asking for MPI_THREAD_FUNNELED. False with a log line
    // when MPI is not built in, or it offers less than that (then MPI is left
    // again at once).
    bool join(int *argc, char ***argv);
    bool joined() const { return isJoined; }
    int rank() const { return myRank; }
    int size() const { return mySize; }

    // Waits until every rank has arrived, without spinning on the processor
    // (a rank that is done early must not slow the ones still computing on
    // the same machine). False when MPI reported an error.
    bool waitForAll();
    // Every rank's bytes, in rank order, on rank 0 (empty elsewhere).
    bool gather(const QByteArray &mine, QVector<QByteArray> &all);
    // Rank 0's value on every rank.
    bool broadcast(int &value);
    // The largest of the ranks' values on every rank.
    bool maxOf(int mine, int &largest);

    void leave();

private:
    // MPI may be called only from the joining thread: false plus a log line
    // elsewhere.
    bool onMpiThread(const char *what) const;

    bool isJoined = false;
    int myRank = 0;
    int mySize = 1;
    std::thread::id mpiThread;
};
