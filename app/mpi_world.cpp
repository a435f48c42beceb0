#include "app/mpi_world.h"

#include <QDebug>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>

#ifdef VORLO_HAVE_MPI
// The C interface only: the MPI-2 C++ bindings need a library of their own.
#define OMPI_SKIP_MPICXX 1
#define MPICH_SKIP_MPICXX 1
#include <mpi.h>
#endif

namespace {

// A whole non-negative decimal number within int, else -1.
int count(const QByteArray &text)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    return ok && v >= 0 ? v : -1;
}

} // namespace

MpiLauncher MpiWorld::launcherFrom(const EnvLookup &env)
{
    MpiLauncher l;
    const auto take = [&l](const char *kind, int rank, int size) {
        if (!l.present) {
            l.present = true;
            l.kind = QString::fromLatin1(kind);
        }
        if (l.rank < 0)
            l.rank = rank;
        if (l.size < 0 && size > 0)
            l.size = size;
    };
    const QByteArray ompiRank = env("OMPI_COMM_WORLD_RANK");
    const QByteArray ompiSize = env("OMPI_COMM_WORLD_SIZE");
    if (!ompiRank.isEmpty() || !ompiSize.isEmpty())
        take("Open MPI", count(ompiRank), count(ompiSize));
    const QByteArray pmixRank = env("PMIX_RANK");
    if (!pmixRank.isEmpty())
        take("PMIx", count(pmixRank), -1);
    const QByteArray pmiRank = env("PMI_RANK");
    const QByteArray pmiSize = env("PMI_SIZE");
    if (!pmiRank.isEmpty() || !pmiSize.isEmpty())
        take("PMI", count(pmiRank), count(pmiSize));
    // A SLURM job step started through PMI: srun tells the size.
    if (l.present && !env("SLURM_STEP_ID").isEmpty()) {
        const int procId = count(env("SLURM_PROCID"));
        int tasks = count(env("SLURM_STEP_NUM_TASKS"));
        if (tasks <= 0)
            tasks = count(env("SLURM_NTASKS"));
        take("SLURM", procId, tasks);
        if (l.kind != QLatin1String("Open MPI"))
            l.kind = QStringLiteral("SLURM");
    }
    return l;
}

MpiLauncher MpiWorld::launcherFromProcess()
{
    return launcherFrom([](const char *name) { return qgetenv(name); });
}

#ifdef VORLO_HAVE_MPI

bool MpiWorld::built() { return true; }

MpiWorld::~MpiWorld() { leave(); }

bool MpiWorld::join(int *argc, char ***argv)
{
    if (isJoined)
        return true;
    int provided = MPI_THREAD_SINGLE;
    if (MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
        qDebug() << "MPI could not be started";
        return false;
    }
    // Errors come back as codes instead of ending every rank at once, so
    // that a failed call gets its log line.
    MPI_Comm_set_errhandler(MPI_COMM_WORLD, MPI_ERRORS_RETURN);
    if (provided < MPI_THREAD_FUNNELED) {
        qDebug() << "MPI refused : it offers no calls from the main thread of a threaded program"
                 << "(level" << provided << ")";
        MPI_Finalize();
        return false;
    }
    MPI_Comm_rank(MPI_COMM_WORLD, &myRank);
    MPI_Comm_size(MPI_COMM_WORLD, &mySize);
    mpiThread = std::this_thread::get_id();
    isJoined = true;
    return true;
}

bool MpiWorld::onMpiThread(const char *what) const
{
    if (std::this_thread::get_id() == mpiThread)
        return true;
    qDebug() << "MPI call refused outside the main thread :" << what;
    return false;
}

bool MpiWorld::waitForAll()
{
    if (!isJoined)
        return true;
    if (!onMpiThread("barrier"))
        return false;
    MPI_Request req;
    if (MPI_Ibarrier(MPI_COMM_WORLD, &req) != MPI_SUCCESS) {
        qDebug() << "MPI barrier failed";
        return false;
    }
    // Open MPI's blocking calls poll without pause; polling here with short
    // sleeps leaves the processor to the ranks still at work.
    for (;;) {
        int done = 0;
        if (MPI_Test(&req, &done, MPI_STATUS_IGNORE) != MPI_SUCCESS) {
            qDebug() << "MPI barrier failed";
            return false;
        }
        if (done)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool MpiWorld::gather(const QByteArray &mine, QVector<QByteArray> &all)
{
    all.clear();
    if (!isJoined) {
        all = { mine };
        return true;
    }
    if (!onMpiThread("gather"))
        return false;
    int length = int(mine.size());
    QVector<int> lengths(myRank == 0 ? mySize : 0);
    if (MPI_Gather(&length, 1, MPI_INT, lengths.data(), 1, MPI_INT, 0, MPI_COMM_WORLD)
        != MPI_SUCCESS) {
        qDebug() << "MPI gather of lengths failed";
        return false;
    }
    QVector<int> offsets(lengths.size());
    qint64 total = 0;
    for (int i = 0; i < lengths.size(); ++i) {
        offsets[i] = int(total);
        total += std::max(0, lengths[i]);
    }
    // Every rank takes part in the second call even when rank 0 cannot
    // receive, so nobody waits for ever; rank 0 then receives nothing.
    const bool fits = total <= INT_MAX;
    if (!fits) {
        qDebug() << "MPI gather refused : more than 2 GiB from all ranks";
        std::fill(lengths.begin(), lengths.end(), 0);
        std::fill(offsets.begin(), offsets.end(), 0);
        total = 0;
    }
    QByteArray buffer(int(std::max<qint64>(total, 1)), '\0');
    const int rc = MPI_Gatherv(mine.constData(), fits ? length : 0, MPI_BYTE, buffer.data(),
        lengths.data(), offsets.data(), MPI_BYTE, 0, MPI_COMM_WORLD);
    if (rc != MPI_SUCCESS) {
        qDebug() << "MPI gather failed";
        return false;
    }
    if (myRank == 0 && fits)
        for (int i = 0; i < lengths.size(); ++i)
            all.append(buffer.mid(offsets[i], lengths[i]));
    return fits || myRank != 0;
}

bool MpiWorld::broadcast(int &value)
{
    if (!isJoined)
        return true;
    if (!onMpiThread("broadcast"))
        return false;
    if (MPI_Bcast(&value, 1, MPI_INT, 0, MPI_COMM_WORLD) != MPI_SUCCESS) {
        qDebug() << "MPI broadcast failed";
        return false;
    }
    return true;
}

bool MpiWorld::maxOf(int mine, int &largest)
{
    largest = mine;
    if (!isJoined)
        return true;
    if (!onMpiThread("reduce"))
        return false;
    if (MPI_Allreduce(&mine, &largest, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD) != MPI_SUCCESS) {
        qDebug() << "MPI reduction failed";
        largest = mine;
        return false;
    }
    return true;
}

void MpiWorld::leave()
{
    if (!isJoined || !onMpiThread("finalize"))
        return;
    isJoined = false;
    MPI_Finalize();
}

#else // built without MPI

bool MpiWorld::built() { return false; }

MpiWorld::~MpiWorld() = default;

bool MpiWorld::join(int *, char ***)
{
    qDebug() << "Started by an MPI launcher, but this program was built without MPI";
    return false;
}

bool MpiWorld::onMpiThread(const char *) const { return false; }

bool MpiWorld::waitForAll() { return true; }

bool MpiWorld::gather(const QByteArray &mine, QVector<QByteArray> &all)
{
    all = { mine };
    return true;
}

bool MpiWorld::broadcast(int &) { return true; }

bool MpiWorld::maxOf(int mine, int &largest)
{
    largest = mine;
    return true;
}

void MpiWorld::leave() { }

#endif
