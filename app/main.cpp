#include "app/body.h"
#include "app/config_store.h"
#include "app/headless.h"
#include "app/mpi_world.h"
#include "app/rank_report.h"
#include "ct/run_record.h"
#include "util/data_root.h"
#include "util/rank_place.h"
#include "util/trace_log.h"

#include <QApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QTranslator>

#include <cstdio>
#include <memory>

namespace {

// The end of a run split across processes. Every rank comes here exactly
// once, whatever its batch did, and meets the others in the same three
// collectives: the reports gathered on rank 0, which writes the records of
// the shared range runs and works out the highest exit code, then that code
// broadcast to all. A rank that fails to reach here (it crashed) makes the
// launcher end the run.
int endSplitRun(MpiWorld &world, Body &body, int code, const QElapsedTimer &clock)
{
    std::vector<std::unique_ptr<RunRecordFacts>> records = body.takeSplitRecords();
    RankReport mine;
    mine.code = code;
    mine.slicesSaved = body.slicesSaved();
    mine.failedResults = body.failedResults();
    for (const auto &r : records)
        mine.runs.push_back(RankReport::shareOf(*r));

    world.waitForAll();
    QVector<QByteArray> packed;
    const bool gathered = world.gather(mine.pack(), packed);
    int finalCode = code;
    if (world.rank() == 0) {
        int saved = 0;
        int failed = 0;
        QVector<RankReport> reports;
        for (int i = 0; i < packed.size(); ++i) {
            RankReport r;
            if (!r.unpack(packed.at(i))) {
                qDebug() << "Report of rank" << i << "unreadable : the run counts as failed";
                finalCode = std::max(finalCode, 2);
                continue;
            }
            finalCode = std::max(finalCode, r.code);
            saved += r.slicesSaved;
            failed += r.failedResults;
            reports.push_back(std::move(r));
        }
        if (!gathered || packed.size() != world.size()) {
            qDebug() << "Reports of the ranks incomplete : the run counts as failed";
            finalCode = std::max(finalCode, 2);
        }
        // Every rank ran the same batch, so the k-th shared run is the same
        // run on each; a rank whose batch took another path has fewer.
        for (int k = 0; k < int(records.size()); ++k) {
            QVector<SplitRunShare> shares;
            for (const RankReport &r : qAsConst(reports)) {
                if (k < r.runs.size())
                    shares.push_back(r.runs.at(k));
                else
                    qDebug() << "A rank has no share of shared run" << k + 1;
            }
            RunRecordFacts &record = *records[size_t(k)];
            RankReport::merge(record, shares, world.size());
            for (const RunRecordPlace &place : runRecordPlaces(record.targets))
                if (!writeRunRecord(record, place)) {
                    finalCode = std::max(finalCode, 2);
                    ++failed;
                }
        }
        std::fprintf(stderr, "vorlo2: %d ranks, %d slices saved, %d failed, %.1f s, exit code %d\n",
            world.size(), saved, failed, clock.elapsed() / 1000.0, finalCode);
    }
    if (!world.broadcast(finalCode))
        finalCode = std::max(code, 2);
    std::fprintf(stderr, "%sexit code %d (this rank %d)\n", Headless::progressPrefix().constData(),
        finalCode, code);
    return finalCode;
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer clock;
    clock.start();
    ConfigStore &cs = ConfigStore::global();
    cs.parseCommandLine(argc, argv);
    Headless::choosePlatform(cs);

    // A launcher's environment alone decides whether the program joins MPI.
    const MpiLauncher launcher = MpiWorld::launcherFromProcess();
    const bool window = !cs.startFlags().noWindow;
    const auto refuseWindow = [](int rank, int size) {
        std::fprintf(stderr,
            "vorlo2: [%d/%d] the window runs in one process only : start several ranks with -nw\n",
            rank, size);
        return 1;
    };
    if (launcher.present && launcher.size > 1 && window)
        return refuseWindow(launcher.rank, launcher.size);
    MpiWorld world;
    if (launcher.present) {
        if (!world.join(&argc, &argv)) {
            std::fprintf(stderr, "vorlo2: started by %s but could not join the other ranks\n",
                qPrintable(launcher.kind));
            return 1;
        }
        if (world.size() > 1 && window) {
            world.leave();
            return refuseWindow(world.rank(), world.size());
        }
        rankPlace() = RankPlace { world.rank(), world.size() };
    }

    auto app = std::make_unique<QApplication>(argc, argv);
    auto translator = std::make_unique<QTranslator>();

    // Before anything is logged: the routine trace only when asked for.
    if (cs.startFlags().verbose)
        setTraceLogging(true);
    cs.readFile(cs.configFileName());
    setDataRoot(cs.dataRootFor(dataRoot()));
    const StartFlags flags = cs.startFlags();

    if (!flags.noTranslation) {
        // A missing translation is not reported: the texts stay in English.
        (void)translator->load(":vorlo2_ja_JP", QCoreApplication::applicationDirPath());
        app->installTranslator(translator.get());
    }

    auto body = std::make_unique<Body>();
    QObject::connect(body.get(), &Body::finishing, app.get(), &QCoreApplication::quit);
    if (!flags.noWindow)
        body->show();
    if (flags.loadBatch)
        body->batchLoad(flags.batchFile);
    if (flags.execBatch)
        body->batchExec();
    auto headless = std::make_unique<Headless>(*body, flags);
    QObject::connect(headless.get(), &Headless::finished, app.get(), &QCoreApplication::exit);
    headless->start();

    int rc = app->exec();
    if (world.joined())
        rc = endSplitRun(world, *body, rc, clock);
    headless.reset();
    body.reset();
    translator.reset();
    app.reset();
    world.leave();
    return rc;
}
