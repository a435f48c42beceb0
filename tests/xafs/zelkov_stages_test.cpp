#include "tests/test_registry.h"
#include "tests/xafs/fake_zelkov.h"
#include "xafs/zelkov_link.h"
#include "xafs/zelkov_stages.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
bool touch(const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly);
}

QString native(const QString &p) { return QDir::toNativeSeparators(p); }
} // namespace

class ZelkovStagesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void filesPerEnergyFolder();
    void folderPerSlice();
    void flatFolder();
    void setupShowsIdle();
    void loadOnlyWithout2DA();
    void loadThenAnalyseWith2DA();
    void stageWaitsForMatchingCommand();
    void noFilesKeepsWaiting();
    void execButtonUsesCurrentSlice();
    void continuousOverRange();
    void continuousToggleAndBadStep();

private:
    QTemporaryDir tmp;
    QString saveDir;
};

void ZelkovStagesTest::initTestCase()
{
    // <tmp>/run holds the results; <tmp> itself holds a decoy of another run.
    saveDir = tmp.filePath("run");
    QVERIFY(touch(tmp.filePath("other-00100.dat")));
    for (const char *e : { "E7100", "e7050", "E7200" }) {
        QVERIFY(touch(saveDir + "/" + e + "/Ct-00100.dat"));
        QVERIFY(touch(saveDir + "/" + e + "/Ct-00101.dat"));
    }
    QVERIFY(touch(saveDir + "/E7200/b-00100.dat"));
    QVERIFY(touch(saveDir + "/E7200/Ct-00100.png"));
    QVERIFY(touch(saveDir + "/flat-00100.dat"));
    QVERIFY(touch(saveDir + "/A-00100.dat"));
    QVERIFY(touch(saveDir + "/flat-00100.dat.bak"));
    QVERIFY(touch(saveDir + "/flat-100.dat"));
}

void ZelkovStagesTest::filesPerEnergyFolder()
{
    ZelkovStageInputs in;
    in.dataDir = saveDir;
    in.inSubFolders = true;
    in.subOfSlice = false;
    QString pat;
    const QStringList got = ZelkovStages::dataFilesOfSlice(in, 100, pat);
    QVERIFY(pat.isEmpty());
    // Folders and files in name order ignoring case; nothing from the save
    // folder itself or from its parent.
    const QStringList want { native(saveDir + "/e7050/Ct-00100.dat"),
        native(saveDir + "/E7100/Ct-00100.dat"), native(saveDir + "/E7200/b-00100.dat"),
        native(saveDir + "/E7200/Ct-00100.dat") };
    QCOMPARE(got, want);
}

void ZelkovStagesTest::folderPerSlice()
{
    ZelkovStageInputs in;
    in.dataDir = saveDir + "/../run";
    in.inSubFolders = true;
    in.subOfSlice = true;
    QString pat;
    QVERIFY(ZelkovStages::dataFilesOfSlice(in, 7, pat).isEmpty());
    QCOMPARE(pat, native(QDir(saveDir).absolutePath() + "/00007/"));
    QVERIFY(pat.endsWith(QDir::separator()));
}

void ZelkovStagesTest::flatFolder()
{
    ZelkovStageInputs in;
    in.dataDir = saveDir;
    in.inSubFolders = false;
    in.subOfSlice = true; // ignored without sub-folders
    QString pat;
    QCOMPARE(ZelkovStages::dataFilesOfSlice(in, 100, pat),
        QStringList({ native(saveDir + "/A-00100.dat"), native(saveDir + "/flat-00100.dat") }));
    QVERIFY(pat.isEmpty());
    QVERIFY(ZelkovStages::dataFilesOfSlice(in, 99999, pat).isEmpty());
}

void ZelkovStagesTest::setupShowsIdle()
{
    ZelkovLink link(QStringLiteral("127.0.0.1 1"));
    ZelkovStages st;
    QSignalSpy shown(&st, &ZelkovStages::busyShownChanged);
    QSignalSpy cont(&st, &ZelkovStages::contModeChanged);
    st.attach(&link);
    QCOMPARE(shown.count(), 1);
    QCOMPARE(shown[0].first().toBool(), false);
    QCOMPARE(cont.count(), 1);
    QCOMPARE(cont[0].first().toBool(), false);
    QCOMPARE(st.analysisStage(), 0);

    // The mirror follows the link and only real changes are shown.
    link.receiveAnMsg("ISBUSY 1");
    link.receiveAnMsg("ISBUSY 1");
    link.receiveAnMsg("ISBUSY 0");
    QCOMPARE(shown.count(), 3);
    QCOMPARE(shown[1].first().toBool(), true);
    QCOMPARE(shown[2].first().toBool(), false);
    QCOMPARE(ZelkovStages::busyStyle(), QStringLiteral("background-color: rgb(255, 192, 192);"));
    QCOMPARE(ZelkovStages::idleStyle(), QStringLiteral("background-color: rgb(211, 255, 241);"));
}

// The link is not connected in these cases: requests mark it busy and the
// test plays Zelkov's reports with receiveAnMsg.
void ZelkovStagesTest::loadOnlyWithout2DA()
{
    ZelkovLink link(QStringLiteral("127.0.0.1 1"));
    ZelkovStages st;
    ZelkovStageInputs in;
    in.dataDir = saveDir;
    st.setInputs([&] { return in; });
    st.attach(&link);
    QSignalSpy files(&st, &ZelkovStages::zklLoadFiles);
    QSignalSpy exec(&st, &ZelkovStages::exec2dA);
    QSignalSpy slice(&st, &ZelkovStages::sliceNoRequested);

    st.execForSlice(100);
    QCOMPARE(slice.count(), 1);
    QCOMPARE(slice[0].first().toInt(), 100);
    QCOMPARE(files.count(), 1);
    QCOMPARE(files[0].first().toStringList().size(), 2);
    QCOMPARE(st.analysisStage(), 1);
    QVERIFY(link.busy());

    link.receiveAnMsg("ISBUSY 0 LOAD_I1_FILES");
    QCOMPARE(st.analysisStage(), 0);
    QCOMPARE(exec.count(), 0);
}

void ZelkovStagesTest::loadThenAnalyseWith2DA()
{
    ZelkovLink link(QStringLiteral("127.0.0.1 1"));
    ZelkovStages st;
    ZelkovStageInputs in;
    in.dataDir = saveDir;
    in.inSubFolders = true;
    in.subOfSlice = true;
    in.with2DA = true;
    st.setInputs([&] { return in; });
    st.attach(&link);
    QSignalSpy pattern(&st, &ZelkovStages::zklLoadFilesOfPattern);
    QSignalSpy exec(&st, &ZelkovStages::exec2dA);

    st.execForSlice(12);
    QCOMPARE(pattern.count(), 1);
    link.receiveAnMsg("ISBUSY 1 LOAD_I1_FILES_OF_PATTERN");
    QCOMPARE(st.analysisStage(), 1);
    link.receiveAnMsg("ISBUSY 0 LOAD_I1_FILES_OF_PATTERN");
    QCOMPARE(exec.count(), 1);
    QCOMPARE(exec[0].first().toString(), QStringLiteral("00012"));
    QCOMPARE(st.analysisStage(), 2);
    QVERIFY(link.busy()); // the analysis request is pending

    link.receiveAnMsg("ISBUSY 0 ANALYZER_EXEC_2DA");
    QCOMPARE(st.analysisStage(), 0);
    QCOMPARE(exec.count(), 1);
}

void ZelkovStagesTest::stageWaitsForMatchingCommand()
{
    ZelkovLink link(QStringLiteral("127.0.0.1 1"));
    ZelkovStages st;
    ZelkovStageInputs in;
    in.dataDir = saveDir;
    in.with2DA = true;
    st.setInputs([&] { return in; });
    st.attach(&link);
    QSignalSpy exec(&st, &ZelkovStages::exec2dA);

    st.execForSlice(100);
    link.receiveAnMsg("ISBUSY 0 ANALYZER_EXEC_2DA"); // not the load
    QCOMPARE(st.analysisStage(), 1);
    link.receiveAnMsg("ISBUSY 1");
    link.receiveAnMsg("ISBUSY 0"); // idle without a name
    QCOMPARE(st.analysisStage(), 1);
    QCOMPARE(exec.count(), 0);
    link.receiveAnMsg("ISBUSY 1");
    link.receiveAnMsg("ISBUSY 0 load_i1_files");
    QCOMPARE(st.analysisStage(), 2);
    QCOMPARE(exec.count(), 1);
    link.receiveAnMsg("ISBUSY 0 LOAD_I1_FILES"); // same state: no change, no step
    link.receiveAnMsg("ISBUSY 1");
    link.receiveAnMsg("ISBUSY 0 LOAD_I1_FILES");
    QCOMPARE(st.analysisStage(), 2);
}

void ZelkovStagesTest::noFilesKeepsWaiting()
{
    ZelkovLink link(QStringLiteral("127.0.0.1 1"));
    ZelkovStages st;
    ZelkovStageInputs in;
    in.dataDir = tmp.filePath("nothing-here");
    st.setInputs([&] { return in; });
    st.attach(&link);
    QSignalSpy files(&st, &ZelkovStages::zklLoadFiles);
    st.execForSlice(5);
    QCOMPARE(files.count(), 1);
    QVERIFY(files[0].first().toStringList().isEmpty());
    QVERIFY(!link.busy()); // an empty list is not a request
    QCOMPARE(st.analysisStage(), 1);
}

void ZelkovStagesTest::execButtonUsesCurrentSlice()
{
    ZelkovLink link(QStringLiteral("127.0.0.1 1"));
    ZelkovStages st;
    ZelkovStageInputs in;
    in.currentSlice = 321;
    st.setInputs([&] { return in; });
    st.attach(&link);
    QSignalSpy exec(&st, &ZelkovStages::exec2dA);
    st.exec2dA0();
    QCOMPARE(exec.count(), 1);
    QCOMPARE(exec[0].first().toString(), QStringLiteral("00321"));
    QCOMPARE(st.analysisStage(), 0);
}

void ZelkovStagesTest::continuousOverRange()
{
    FakeZelkov zel;
    QVERIFY(zel.listen());
    zel.autoReply = true;
    ZelkovLink link(zel.address());
    ZelkovStages st;
    ZelkovStageInputs in;
    in.dataDir = saveDir;
    in.inSubFolders = true;
    in.subOfSlice = false;
    in.sliceFrom = 100;
    in.sliceTo = 110;
    in.sliceStep = 5;
    st.setInputs([&] { return in; });
    link.doConnect();
    st.attach(&link);
    QTRY_VERIFY_WITH_TIMEOUT(link.isLinked(), 3000);
    QSignalSpy cont(&st, &ZelkovStages::contModeChanged);
    QSignalSpy slice(&st, &ZelkovStages::sliceNoRequested);

    // Slices without data files are not requested by the 105/110 list, so
    // give them files first.
    for (const char *e : { "E7100", "E7200" })
        for (const char *s : { "00105", "00110" })
            QVERIFY(touch(saveDir + "/" + e + "/Ct-" + s + ".dat"));

    st.zklStartCont2dA();
    QVERIFY(st.contMode());
    QTRY_VERIFY_WITH_TIMEOUT(!st.contMode(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!link.busy(), 3000);

    const QStringList r = zel.requests();
    QCOMPARE(r.size(), 6);
    const QStringList slices { "00100", "00105", "00110" };
    for (int i = 0; i < 3; ++i) {
        QVERIFY2(r[2 * i].startsWith("LOAD_I1_FILES new "), qPrintable(r[2 * i]));
        const QStringList files = r[2 * i].mid(18).split(' ');
        QVERIFY(files.size() >= 2);
        for (const QString &f : files)
            QVERIFY2(f.endsWith("-" + slices[i] + ".dat"), qPrintable(f));
        QCOMPARE(r[2 * i + 1], "ANALYZER_EXEC_2DA " + slices[i]);
    }
    QCOMPARE(slice.count(), 3);
    QCOMPARE(slice[2].first().toInt(), 110);
    QCOMPARE(cont.count(), 2); // on, then off after 110
    QCOMPARE(st.analysisStage(), 2);
    link.doDisconnect();
}

void ZelkovStagesTest::continuousToggleAndBadStep()
{
    ZelkovLink link(QStringLiteral("127.0.0.1 1"));
    ZelkovStages st;
    ZelkovStageInputs in;
    in.dataDir = saveDir;
    in.sliceFrom = 100;
    in.sliceTo = 200;
    in.sliceStep = 0;
    st.setInputs([&] { return in; });
    st.attach(&link);
    QSignalSpy files(&st, &ZelkovStages::zklLoadFiles);

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("positive slice step"));
    st.zklStartCont2dA();
    QVERIFY(!st.contMode());
    QCOMPARE(files.count(), 0);

    in.sliceStep = 50;
    st.zklStartCont2dA();
    QVERIFY(st.contMode());
    QCOMPARE(files.count(), 1);
    st.zklStartCont2dA(); // second press: off
    QVERIFY(!st.contMode());
    link.receiveAnMsg("ISBUSY 0 LOAD_I1_FILES");
    QCOMPARE(st.analysisStage(), 0); // no "w 2DA", no continuous mode: done
}

VORLO_TEST(ZelkovStagesTest)
#include "zelkov_stages_test.moc"
