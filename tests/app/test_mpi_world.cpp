// Launcher detection from the environment, and the report every rank hands
// rank 0 at the end of a split run.
#include "app/mpi_world.h"
#include "app/rank_report.h"
#include "tests/test_registry.h"

#include <QRegularExpression>
#include <QTest>

#include <map>
#include <string>

namespace {

MpiLauncher launcherOf(const QString &vars)
{
    std::map<std::string, QByteArray> env;
    for (const QString &kv : vars.split(' ', Qt::SkipEmptyParts)) {
        const int eq = kv.indexOf('=');
        env[kv.left(eq).toStdString()] = kv.mid(eq + 1).toUtf8();
    }
    return MpiWorld::launcherFrom([&env](const char *name) {
        const auto it = env.find(name);
        return it == env.end() ? QByteArray() : it->second;
    });
}

RunRecordFacts shareRecord(std::initializer_list<int> slices, std::initializer_list<int> failed)
{
    RunRecordFacts f;
    for (int s : slices)
        f.slices.push_back({ s, 30.25 + s / 8.0 });
    for (int s : failed)
        f.failed.push_back({ s, QString("not saved : out/s-%1.dat").arg(s) });
    f.slicesDone = int(slices.size()) - int(failed.size());
    f.ended = QDateTime::fromMSecsSinceEpoch(1700000000000 + slices.size());
    return f;
}

} // namespace

class TestMpiWorld : public QObject {
    Q_OBJECT
private slots:
    void launcherFromEnvironment_data()
    {
        QTest::addColumn<QString>("vars");
        QTest::addColumn<bool>("present");
        QTest::addColumn<int>("rank");
        QTest::addColumn<int>("size");
        QTest::newRow("started by hand") << "HOME=/root PATH=/bin" << false << -1 << -1;
        QTest::newRow("mpirun") << "OMPI_COMM_WORLD_RANK=2 OMPI_COMM_WORLD_SIZE=4 PMIX_RANK=2"
                                << true << 2 << 4;
        QTest::newRow("PMIx alone (size known after joining)") << "PMIX_RANK=1" << true << 1 << -1;
        QTest::newRow("srun with PMI-2") << "PMI_RANK=3 PMI_SIZE=8 SLURM_STEP_ID=0 "
                                            "SLURM_PROCID=3 SLURM_STEP_NUM_TASKS=8"
                                         << true << 3 << 8;
        QTest::newRow("srun with PMIx") << "PMIX_RANK=5 SLURM_STEP_ID=2 SLURM_PROCID=5 "
                                           "SLURM_STEP_NUM_TASKS=6 SLURM_NTASKS=12"
                                        << true << 5 << 6;
        // The batch script of a job is rank 0 of nothing: no PMI variable.
        QTest::newRow("sbatch script itself")
            << "SLURM_JOB_ID=77 SLURM_PROCID=0 SLURM_NTASKS=4 SLURM_STEP_ID=4294967294" << false
            << -1 << -1;
        QTest::newRow("numbers that are not numbers")
            << "OMPI_COMM_WORLD_RANK=x OMPI_COMM_WORLD_SIZE=-3" << true << -1 << -1;
    }
    void launcherFromEnvironment()
    {
        QFETCH(QString, vars);
        const MpiLauncher l = launcherOf(vars);
        QTEST(l.present, "present");
        QTEST(l.rank, "rank");
        QTEST(l.size, "size");
    }

    // What a rank packs is what rank 0 unpacks; anything else is refused
    // without trusting its counts.
    void reportRoundTripAndDamage()
    {
        RankReport r;
        r.code = 2;
        r.slicesSaved = 4;
        r.failedResults = 1;
        r.runs << RankReport::shareOf(shareRecord({ 1, 4, 7 }, { 4 }))
               << RankReport::shareOf(shareRecord({}, {}));
        const QByteArray bytes = r.pack();
        RankReport back;
        QVERIFY(back.unpack(bytes));
        QCOMPARE(back.code, 2);
        QCOMPARE(back.slicesSaved, 4);
        QCOMPARE(back.failedResults, 1);
        QCOMPARE(back.runs.size(), 2);
        QCOMPARE(back.runs[0].slices.size(), 3);
        QCOMPARE(back.runs[0].slices[2].cor, 30.25 + 7 / 8.0);
        QCOMPARE(back.runs[0].failed[0].why, QString("not saved : out/s-4.dat"));
        QCOMPARE(back.runs[0].slicesDone, 2);
        QCOMPARE(back.runs[0].ended, shareRecord({ 1, 4, 7 }, {}).ended);
        QVERIFY(back.runs[1].slices.isEmpty());

        for (int cut : { 0, 3, 20, int(bytes.size()) - 1 }) {
            RankReport damaged;
            damaged.code = 9;
            QVERIFY2(!damaged.unpack(bytes.left(cut)), qPrintable(QString::number(cut)));
            QCOMPARE(damaged.code, 9); // left as it was
        }
        QByteArray huge = bytes;
        huge[16] = char(0x7f); // the number of runs, big-endian
        QVERIFY(!RankReport().unpack(huge));
        QVERIFY(!RankReport().unpack(bytes + QByteArray(1, '\0')));
    }

    // Rank 0's record of a shared run: every slice once, in the order of the
    // range, whichever rank computed it.
    void mergedRecordListsEachSliceOnce()
    {
        RunRecordFacts lead = shareRecord({ 9, 6, 3, 0 }, {});
        lead.params.sliceFrom = 9;
        lead.params.sliceTo = 0;
        lead.params.sliceStep = 1;
        QVector<SplitRunShare> shares { RankReport::shareOf(lead),
            RankReport::shareOf(shareRecord({ 8, 5, 2 }, { 5 })),
            RankReport::shareOf(shareRecord({ 7, 4, 1 }, {})) };
        shares[2].stopped = true;
        RankReport::merge(lead, shares, 3);
        QVector<int> order;
        for (const RunRecordSlice &s : lead.slices)
            order << s.slice;
        QCOMPARE(order, QVector<int>({ 9, 8, 7, 6, 5, 4, 3, 2, 1, 0 }));
        QCOMPARE(lead.slices[1].cor, 30.25 + 8 / 8.0);
        QCOMPARE(lead.slicesDone, 4 + 2 + 3);
        QCOMPARE(lead.failed.size(), 1);
        QCOMPARE(lead.failed[0].slice, 5);
        QVERIFY(lead.stopped);
        QCOMPARE(lead.ranks, 3);
        QCOMPARE(lead.ended, shareRecord({ 9, 6, 3, 0 }, {}).ended);
        const QString text = QString::fromUtf8(runRecordText(lead, { "/o", "s", "t", { "data" } }));
        QVERIFY2(text.contains(QRegularExpression("\nranks +: 3\n")), qPrintable(text));
    }
};

VORLO_TEST(TestMpiWorld)
#include "test_mpi_world.moc"
