// The window's walk over data sets ("Seq. Calc.") as one rank of a run
// split across processes: the rank takes set i of the list when i mod N is
// its rank, within the walk's range, and a rank other than 0 never calls the
// analyser. The rank is set in-process, as the program's start sets it.
#include "app/body.h"
#include "ct/proc_ctrl.h"
#include "select/select_a_file.h"
#include "select/select_data_dir.h"
#include "tests/ct/phantom_stack.h"
#include "tests/test_registry.h"
#include "util/rank_place.h"

#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

// Five energies, three 16 x 4 projections each, in the ASR-standard naming.
bool writeSets(const QTemporaryDir &dir, const QStringList &energies)
{
    for (const QString &e : energies)
        for (int k = 0; k < 3; ++k) {
            const QString name
                = dir.filePath(QString("S-%1eV-%2.img").arg(e).arg(k, 5, 10, QChar('0')));
            const double c = 8 + 3 * std::cos(k * 0.7);
            if (!phantom::writeItex(
                    name, 16, 4,
                    [c](int x, int) { return 30000 * std::exp(-0.01 * std::abs(x - c)); }, 2))
                return false;
        }
    return true;
}

template <class T> T *child(Body &b, const char *name)
{
    T *w = b.findChild<T *>(QString::fromLatin1(name));
    if (!w)
        qFatal("no child %s", name);
    return w;
}

QStringList *logSink = nullptr;

} // namespace

class TestMpiWalk : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { rankPlace() = RankPlace(); }

    void setsOfTheRank_data()
    {
        QTest::addColumn<int>("rank");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QStringList>("tags");
        QTest::newRow("rank 0 of 3, whole list")
            << 0 << 1 << 5 << QStringList { "7100eV", "7130eV" };
        QTest::newRow("rank 1 of 3, whole list")
            << 1 << 1 << 5 << QStringList { "7110eV", "7140eV" };
        QTest::newRow("rank 2 of 3, whole list") << 2 << 1 << 5 << QStringList { "7120eV" };
        QTest::newRow("rank 0 of 3, sets 2 to 4") << 0 << 2 << 4 << QStringList { "7130eV" };
        QTest::newRow("rank 1 of 3, sets 2 to 4") << 1 << 2 << 4 << QStringList { "7110eV" };
        QTest::newRow("rank 1 of 3, set 5 only") << 1 << 5 << 5 << QStringList { "7140eV" };
        QTest::newRow("rank 0 of 3, set 5 only: none") << 0 << 5 << 5 << QStringList {};
    }

    void setsOfTheRank()
    {
        QFETCH(int, rank);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QStringList, tags);
        QTemporaryDir meas;
        QVERIFY(writeSets(meas, { "7100", "7110", "7120", "7130", "7140" }));
        rankPlace() = RankPlace { rank, 3 };
        QStringList log;
        logSink = &log;
        auto previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) {
                  if (logSink)
                      *logSink << m;
              });
        QStringList done;
        {
            Body b(2, nullptr);
            child<ProcCtrl>(b, "procCtrl")->setRotAxIsV(true);
            child<QRadioButton>(b, "SelectCt2")->setChecked(true);
            auto *sets = child<SelectDataDir>(b, "SelDDir");
            sets->setIsASRStandard(true);
            sets->setDataDir(meas.path());
            child<QSpinBox>(b, "SeqCalcFrom")->setValue(from);
            child<QSpinBox>(b, "SeqCalcTo")->setValue(to);
            QObject::connect(&b, &Body::calcFinished, &b,
                [&] { done << child<SelectAFile>(b, "SelectDataSaveDir")->addTag(); });
            auto *seq = child<QPushButton>(b, "SeqCalc");
            seq->click();
            QTRY_COMPARE_WITH_TIMEOUT(
                seq->styleSheet(), QString("background-color: rgb(240, 240, 240);"), 10000);
            QTest::qWait(200);
        }
        qInstallMessageHandler(previous);
        logSink = nullptr;
        QCOMPARE(done, tags);
        const bool calledAnalyser = !log.filter("do connect").isEmpty();
        QCOMPARE(calledAnalyser, rank == 0);
        QStringList stages;
        for (const QString &m : qAsConst(log))
            if (m.startsWith("Stage : "))
                stages << m.mid(9).section(' ', 0, -2);
        QVERIFY(!stages.isEmpty());
        QCOMPARE(stages.last(), QString("Finished"));
        QCOMPARE(int(stages.count("Calculating")), int(tags.size()));
    }
};

VORLO_TEST(TestMpiWalk)
#include "test_mpi_walk.moc"
