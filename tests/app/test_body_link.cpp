#include "app/body.h"
#include "app/config_store.h"
#include "ct/proc_ctrl.h"
#include "display/disp_a.h"
#include "display/mouse_c.h"
#include "display/raw_disp.h"
#include "select/select_a_file.h"
#include "select/select_data_dir.h"
#include "tests/ct/phantom_stack.h"
#include "tests/test_registry.h"
#include "xafs/zelkov_link.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace {

// An ITEX file of w x h 16-bit pixels with a dark spot that moves with k.
bool writeImage(const QString &path, int w, int h, int k)
{
    const double c = w / 2.0 + 0.2 * w * std::cos(k * 0.7);
    return phantom::writeItex(
        path, w, h,
        [c](int x, int) {
            const double d = x + 0.5 - c;
            const double p = std::abs(d) < 2 ? 0.3 * (2 - std::abs(d)) : 0;
            return 30000 * std::exp(-p);
        },
        2);
}

// A measurement directory in the ASR-standard naming: one set of three
// projections per energy.
bool writeSets(const QTemporaryDir &dir, const QStringList &energies)
{
    for (const QString &e : energies)
        for (int k = 0; k < 3; ++k)
            if (!writeImage(dir.filePath(QString("S-%1eV-%2.img").arg(e).arg(k, 5, 10, QChar('0'))),
                    16, 4, k))
                return false;
    return true;
}

// The analysis program on 127.0.0.1: records every line and answers each
// request busy, then idle naming the command, as the real one does.
class AnalyserStandIn : public QObject {
    Q_OBJECT
public:
    QStringList lines;
    bool overlapped = false; // a request arrived while the last was still running
    bool listen(quint16 port = 0) { return server.listen(QHostAddress::LocalHost, port); }
    quint16 port() const { return server.serverPort(); }
    void close() { server.close(); }
    QString address() const { return QStringLiteral("127.0.0.1 %1").arg(server.serverPort()); }
    QStringList requests() const
    {
        QStringList r;
        for (const QString &l : lines)
            if (!l.startsWith("myName"))
                r << l;
        return r;
    }
    AnalyserStandIn()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                client = s;
                connect(s, &QTcpSocket::readyRead, this, &AnalyserStandIn::read);
            }
        });
    }

private:
    void read()
    {
        buffer += client->readAll();
        int lf;
        while ((lf = int(buffer.indexOf('\n'))) >= 0) {
            const QString line = QString::fromUtf8(buffer.left(lf));
            buffer.remove(0, lf + 1);
            lines << line;
            if (line.startsWith("myName"))
                continue;
            const QString cmd = line.section(' ', 0, 0);
            if (running)
                overlapped = true;
            running = true;
            client->write("ISBUSY 1\n");
            // Idle a little later, in a read of its own.
            QTimer::singleShot(20, this, [this, cmd] {
                running = false;
                if (client)
                    client->write(QStringLiteral("ISBUSY 0 %1\n").arg(cmd).toUtf8());
            });
        }
    }
    QTcpServer server;
    QPointer<QTcpSocket> client;
    QByteArray buffer;
    bool running = false;
};

} // namespace

class TestBodyLink : public QObject {
    Q_OBJECT

    template <class T> static T *child(Body &b, const char *name)
    {
        T *w = b.findChild<T *>(QString::fromLatin1(name));
        if (!w)
            qFatal("no child %s", name);
        return w;
    }

    struct Walk {
        int calcs = 0;
        QStringList tags; // data-save tag of each set calculated
        QStringList stages;
    };

    // Walks the sets of a three-energy directory with the given range; the
    // stage texts come from the debug log. keep: the range survives a new
    // choice of the directory.
    static void walk(const QTemporaryDir &meas, int from, int to, Walk &w, int presses = 1,
        bool keep = false, bool chooseAgain = false)
    {
        static QStringList *sink;
        sink = &w.stages;
        auto previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) {
                  if (m.startsWith("Stage : "))
                      *sink << m.mid(9).section(' ', 0, -2);
              });
        Body b(2, nullptr);
        child<ProcCtrl>(b, "procCtrl")->setRotAxIsV(true);
        child<QRadioButton>(b, "SelectCt2")->setChecked(true);
        auto *sets = child<SelectDataDir>(b, "SelDDir");
        sets->setIsASRStandard(true);
        sets->setDataDir(meas.path());
        child<QSpinBox>(b, "SeqCalcFrom")->setValue(from);
        child<QSpinBox>(b, "SeqCalcTo")->setValue(to);
        child<QCheckBox>(b, "keepOnNewSet")->setChecked(keep);
        if (chooseAgain)
            sets->setDataDir(meas.path());
        QObject::connect(&b, &Body::calcFinished, &b, [&] {
            ++w.calcs;
            w.tags << child<SelectAFile>(b, "SelectDataSaveDir")->addTag();
        });
        auto *seq = child<QPushButton>(b, "SeqCalc");
        for (int i = 0; i < presses; ++i)
            seq->click();
        QTRY_COMPARE_WITH_TIMEOUT(
            seq->styleSheet(), QString("background-color: rgb(240, 240, 240);"), 10000);
        // Let a calculation still under way end, and show that nothing
        // follows it.
        QTest::qWait(300);
        QCoreApplication::processEvents();
        qInstallMessageHandler(previous);
    }

private slots:
    void initTestCase() { qputenv("QT_LOGGING_RULES", "qt.*=false"); }

    void walkRanges_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QStringList>("tags");
        QTest::newRow("whole list") << 1 << 3 << QStringList { "7100eV", "7110eV", "7120eV" };
        QTest::newRow("from = to") << 2 << 2 << QStringList { "7110eV" };
        QTest::newRow("to beyond the list") << 2 << 9 << QStringList { "7110eV", "7120eV" };
        QTest::newRow("from beyond the list") << 5 << 6 << QStringList {};
    }

    void walkRanges()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QStringList, tags);
        QTemporaryDir meas;
        QVERIFY(writeSets(meas, { "7100", "7110", "7120" }));
        Walk w;
        walk(meas, from, to, w);
        QCOMPARE(w.tags, tags);
        QCOMPARE(w.calcs, int(tags.size()));
        QVERIFY(!w.stages.isEmpty());
        QCOMPARE(w.stages.last(), QString("Finished"));
        QCOMPARE(int(w.stages.count("Calculating")), int(tags.size()));
        QCOMPARE(int(w.stages.count("Finished")), 1);
    }

    // With the range kept, choosing the directory again does not refill it.
    void keepOnNewSetKeepsTheRange()
    {
        QTemporaryDir meas;
        QVERIFY(writeSets(meas, { "7100", "7110", "7120" }));
        Walk w;
        walk(meas, 3, 3, w, 1, true, true);
        QCOMPARE(w.tags, QStringList { "7120eV" });
        // Without it the new list sets the range to the whole list again.
        Walk all;
        walk(meas, 3, 3, all, 1, false, true);
        QCOMPARE(all.tags, QStringList({ "7100eV", "7110eV", "7120eV" }));
    }

    // A finished walk leaves nothing behind: pressing again walks the same
    // sets once more, from the first of the range.
    void walkRunsAgainAfterItsEnd()
    {
        QTemporaryDir meas;
        QVERIFY(writeSets(meas, { "7100", "7110" }));
        static QStringList stages;
        stages.clear();
        auto previous
            = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &m) {
                  if (m.startsWith("Stage : "))
                      stages << m.mid(9).section(' ', 0, -2);
              });
        QStringList tags;
        {
            Body b(2, nullptr);
            child<ProcCtrl>(b, "procCtrl")->setRotAxIsV(true);
            child<QRadioButton>(b, "SelectCt2")->setChecked(true);
            auto *sets = child<SelectDataDir>(b, "SelDDir");
            sets->setIsASRStandard(true);
            sets->setDataDir(meas.path());
            QObject::connect(&b, &Body::calcFinished, &b,
                [&] { tags << child<SelectAFile>(b, "SelectDataSaveDir")->addTag(); });
            auto *seq = child<QPushButton>(b, "SeqCalc");
            seq->click();
            QTRY_COMPARE_WITH_TIMEOUT(int(stages.count("Finished")), 1, 10000);
            seq->click();
            QTRY_COMPARE_WITH_TIMEOUT(int(stages.count("Finished")), 2, 10000);
            QTest::qWait(200);
        }
        qInstallMessageHandler(previous);
        QCOMPARE(tags, QStringList({ "7100eV", "7110eV", "7100eV", "7110eV" }));
        QCOMPARE(int(stages.count("Data Loading")), 2);
        QCOMPARE(int(stages.count("Finished")), 2);
    }

    // A set whose files are all damaged does not stop the walk: the sets
    // after it are still reconstructed.
    void damagedSetDoesNotStopTheWalk()
    {
        QTemporaryDir meas;
        QVERIFY(writeSets(meas, { "7100", "7120" }));
        for (int k = 0; k < 3; ++k) {
            QFile f(meas.filePath(QString("S-7110eV-%1.img").arg(k, 5, 10, QChar('0'))));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("IM\x10"); // cut inside the header
        }
        Walk w;
        walk(meas, 1, 3, w);
        QCOMPARE(w.stages.last(), QString("Finished"));
        QVERIFY2(
            w.tags.contains("7100eV") && w.tags.contains("7120eV"), qPrintable(w.tags.join(' ')));
        QCOMPARE(int(w.stages.count("Loading next Data Set")), 3);
    }

    // A second press ends the walk: the reconstruction under way completes,
    // no further set follows.
    void secondPressEndsTheWalk()
    {
        QTemporaryDir meas;
        QVERIFY(writeSets(meas, { "7100", "7110", "7120" }));
        Walk w;
        walk(meas, 1, 3, w, 2);
        QVERIFY2(w.calcs <= 1, qPrintable(QString::number(w.calcs)));
        QCOMPARE(int(w.stages.count("Finished")), 1);
        QVERIFY(!w.stages.contains("Loading next Data Set"));
    }

    // The analyser's address comes from the configuration; the button shows
    // trying while nobody listens there, linked once the analyser is up, and
    // the window introduces itself on connecting.
    void linkButtonFollowsTheAnalyser()
    {
        AnalyserStandIn zkl;
        QVERIFY(zkl.listen());
        const quint16 port = zkl.port();
        zkl.close();
        const QString address = QString("127.0.0.1 %1").arg(port);
        ConfigStore::global().set("2dZelkov", "127.0.0.1", address);
        Body b(2, nullptr);
        ConfigStore::global().set("2dZelkov", "localhost", "localhost 6078");
        auto *link = child<QPushButton>(b, "Link2dZelkov");
        QTRY_COMPARE_WITH_TIMEOUT(link->styleSheet(), ZelkovLink::tryingStyle(), 2000);
        QTest::qWait(300);
        QCOMPARE(link->styleSheet(), ZelkovLink::tryingStyle());
        if (!zkl.listen(port))
            QSKIP("the port was taken by another program meanwhile");
        // Retried every second.
        QTRY_COMPARE_WITH_TIMEOUT(link->styleSheet(), ZelkovLink::linkedStyle(), 2500);
        QTRY_VERIFY_WITH_TIMEOUT(zkl.lines.contains("myName vorlo2"), 2000);
    }

    // "Exec 2DA" asks for the analysis of the current slice; a pick on the
    // raw image with "Send Msg." on sends that slice's data files first.
    void execAndSendMessage()
    {
        QTemporaryDir out;
        for (const char *e : { "7100eV", "7110eV" })
            QVERIFY(
                QFile(out.filePath(QString("s-%1-00009.dat").arg(e))).open(QIODevice::WriteOnly));
        QVERIFY(QFile(out.filePath("s-7100eV-00008.dat")).open(QIODevice::WriteOnly));
        AnalyserStandIn zkl;
        QVERIFY(zkl.listen());
        ConfigStore::global().set("2dZelkov", "127.0.0.1", zkl.address());
        Body b(2, nullptr);
        ConfigStore::global().set("2dZelkov", "localhost", "localhost 6078");
        QTRY_COMPARE_WITH_TIMEOUT(
            child<QPushButton>(b, "Link2dZelkov")->styleSheet(), ZelkovLink::linkedStyle(), 3000);
        child<ProcCtrl>(b, "procCtrl")->setRotAxIsV(true);
        child<ProcCtrl>(b, "procCtrl")->setSliceNo(7);
        child<QPushButton>(b, "Exec2DA")->click();
        QTRY_COMPARE_WITH_TIMEOUT(zkl.requests(), QStringList { "ANALYZER_EXEC_2DA 00007" }, 3000);

        child<SelectAFile>(b, "SelectDataSaveDir")->setPath(out.path());
        child<QCheckBox>(b, "SaveInSubFolders")->setChecked(false);
        child<QCheckBox>(b, "With2DA")->setChecked(false);
        // Without "Send Msg." a pick only sets the slice.
        child<QCheckBox>(b, "SendMsg2Zelkov")->setChecked(false);
        QTest::qWait(100);
        QMetaObject::invokeMethod(&b, "selectedAPointInRawImg", Q_ARG(double, 3.0),
            Q_ARG(double, 8.4), Q_ARG(MouseC::MStat, MouseC::Left));
        QCOMPARE(child<ProcCtrl>(b, "procCtrl")->sliceNo(), 8);
        QTest::qWait(200);
        QCOMPARE(zkl.requests().size(), 1);
        child<QCheckBox>(b, "SendMsg2Zelkov")->setChecked(true);
        QMetaObject::invokeMethod(&b, "selectedAPointInRawImg", Q_ARG(double, 3.0),
            Q_ARG(double, 9.6), Q_ARG(MouseC::MStat, MouseC::Left));
        QCOMPARE(child<ProcCtrl>(b, "procCtrl")->sliceNo(), 9);
        const QString files = QDir::toNativeSeparators(out.filePath("s-7100eV-00009.dat")) + " "
            + QDir::toNativeSeparators(out.filePath("s-7110eV-00009.dat"));
        QTRY_COMPARE_WITH_TIMEOUT(zkl.requests().size(), 2, 3000);
        QCOMPARE(zkl.requests().at(1), "LOAD_I1_FILES new " + files);
        // Without "w 2DA" the load is all.
        QTest::qWait(200);
        QCOMPARE(zkl.requests().size(), 2);
        QVERIFY(!zkl.overlapped);
    }

    // The same with the mouse: a plain left click on the shown raw image
    // picks the row under it as the slice and sends that slice's files.
    void sendMessageOnAClickInTheRawImage()
    {
        QTemporaryDir scan, out;
        QStringList images;
        for (int k = 0; k < 2; ++k) {
            images << scan.filePath(QString("p-%1.img").arg(k));
            QVERIFY(writeImage(images.last(), 16, 12, k));
        }
        for (int sl = 0; sl < 12; ++sl)
            QVERIFY(QFile(out.filePath(QString::asprintf("s-7100eV-%05d.dat", sl)))
                        .open(QIODevice::WriteOnly));
        AnalyserStandIn zkl;
        QVERIFY(zkl.listen());
        ConfigStore::global().set("2dZelkov", "127.0.0.1", zkl.address());
        Body b(2, nullptr);
        ConfigStore::global().set("2dZelkov", "localhost", "localhost 6078");
        b.resize(1200, 850);
        b.show();
        QVERIFY(QTest::qWaitForWindowExposed(&b));
        QTRY_COMPARE_WITH_TIMEOUT(
            child<QPushButton>(b, "Link2dZelkov")->styleSheet(), ZelkovLink::linkedStyle(), 3000);
        child<ProcCtrl>(b, "procCtrl")->setRotAxIsV(true);
        QSignalSpy loaded(&b, &Body::finishedLoadingCTFiles);
        QMetaObject::invokeMethod(
            &b, "dataFilesSelected", Q_ARG(QStringList, images), Q_ARG(bool, true));
        QVERIFY(loaded.wait(5000));
        child<SelectAFile>(b, "SelectDataSaveDir")->setPath(out.path());
        child<QCheckBox>(b, "SaveInSubFolders")->setChecked(false);
        child<QCheckBox>(b, "SendMsg2Zelkov")->setChecked(true);
        RawDisp *raw = b.findChild<RawDisp *>();
        QVERIFY(raw);
        QWidget *area = raw->dispA();
        QVERIFY(area->isVisible() && area->width() > 10 && area->height() > 10);
        QTest::qWait(100);
        QTest::mouseClick(area, Qt::LeftButton, Qt::NoModifier, area->rect().center());
        QTRY_COMPARE_WITH_TIMEOUT(zkl.requests().size(), 1, 3000);
        const int slice = child<ProcCtrl>(b, "procCtrl")->sliceNo();
        QVERIFY2(slice >= 0 && slice < 12, qPrintable(QString::number(slice)));
        QCOMPARE(zkl.requests().first(),
            "LOAD_I1_FILES new "
                + QDir::toNativeSeparators(
                    out.filePath(QString::asprintf("s-7100eV-%05d.dat", slice))));
    }

    // The data files of one slice in each layout of the saved results.
    void execForSliceInEachLayout_data()
    {
        QTest::addColumn<int>("layout"); // 0 flat, 1 per energy, 2 per slice
        QTest::newRow("one folder") << 0;
        QTest::newRow("a folder per energy") << 1;
        QTest::newRow("a folder per slice") << 2;
    }

    void execForSliceInEachLayout()
    {
        QFETCH(int, layout);
        QTemporaryDir top;
        // The results folder inside another one whose own result files of
        // the same slice belong to a different run and must not be sent.
        const QDir out(top.filePath("run"));
        QVERIFY(QDir().mkpath(out.path()));
        QVERIFY(QFile(top.filePath("s-other-00105.dat")).open(QIODevice::WriteOnly));
        if (layout == 1) // nor does a stray file beside the energy folders belong
            QVERIFY(QFile(out.filePath("s-stray-00105.dat")).open(QIODevice::WriteOnly));
        const QStringList energies = { "7110eV", "7100eV" };
        QStringList expected;
        for (const QString &e : energies) {
            const QString folder = layout == 1 ? out.filePath(e) : out.path();
            QVERIFY(QDir().mkpath(folder));
            for (const char *sl : { "00100", "00105" }) {
                const QString f = folder + "/s-" + e + "-" + sl + ".dat";
                QVERIFY(QFile(f).open(QIODevice::WriteOnly));
                if (QString(sl) == "00105")
                    expected << QDir::toNativeSeparators(f);
            }
        }
        // Name order ignoring case, folder by folder.
        std::sort(expected.begin(), expected.end(), [](const QString &a, const QString &b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
        AnalyserStandIn zkl;
        QVERIFY(zkl.listen());
        ConfigStore::global().set("2dZelkov", "127.0.0.1", zkl.address());
        Body b(2, nullptr);
        ConfigStore::global().set("2dZelkov", "localhost", "localhost 6078");
        QTRY_COMPARE_WITH_TIMEOUT(
            child<QPushButton>(b, "Link2dZelkov")->styleSheet(), ZelkovLink::linkedStyle(), 3000);
        child<SelectAFile>(b, "SelectDataSaveDir")->setPath(out.path());
        child<QCheckBox>(b, "SaveInSubFolders")->setChecked(layout != 0);
        child<QRadioButton>(b, layout == 2 ? "SubOfSlice" : "SubOfEnergy")->setChecked(true);
        child<QCheckBox>(b, "With2DA")->setChecked(true);
        b.execForSlice(105);
        QCOMPARE(child<ProcCtrl>(b, "procCtrl")->sliceNo(), 105);
        const QString load = layout == 2 ? "LOAD_I1_FILES_OF_PATTERN new "
                + QDir::toNativeSeparators(QDir(out.path()).absolutePath() + "/00105/") + " *.dat"
                                         : "LOAD_I1_FILES new " + expected.join(' ');
        QTRY_COMPARE_WITH_TIMEOUT(
            zkl.requests(), QStringList({ load, "ANALYZER_EXEC_2DA 00105" }), 3000);
        QVERIFY(!zkl.overlapped);
    }

    // "Cont. 2DA" walks the slice range: load, analyse, next slice, one
    // request at a time, then switches itself off.
    void continuousAnalysisOverTheRange()
    {
        QTemporaryDir out;
        QStringList expected;
        for (int sl = 100; sl <= 110; sl += 5) {
            const QString f = out.filePath(QString::asprintf("s-7100eV-%05d.dat", sl));
            QVERIFY(QFile(f).open(QIODevice::WriteOnly));
            expected << "LOAD_I1_FILES new " + QDir::toNativeSeparators(f)
                     << QString::asprintf("ANALYZER_EXEC_2DA %05d", sl);
        }
        AnalyserStandIn zkl;
        QVERIFY(zkl.listen());
        ConfigStore::global().set("2dZelkov", "127.0.0.1", zkl.address());
        Body b(2, nullptr);
        ConfigStore::global().set("2dZelkov", "localhost", "localhost 6078");
        QTRY_COMPARE_WITH_TIMEOUT(
            child<QPushButton>(b, "Link2dZelkov")->styleSheet(), ZelkovLink::linkedStyle(), 3000);
        child<SelectAFile>(b, "SelectDataSaveDir")->setPath(out.path());
        child<QCheckBox>(b, "SaveInSubFolders")->setChecked(false);
        child<QCheckBox>(b, "With2DA")->setChecked(false);
        auto *pc = child<ProcCtrl>(b, "procCtrl");
        pc->setSliceFrom(100);
        pc->setSliceTo(110);
        pc->setSliceStep(5);
        auto *cont = child<QPushButton>(b, "Cont2DA");
        cont->click();
        QCOMPARE(cont->styleSheet(), QString("background-color: rgb(255, 255, 128);"));
        QTRY_COMPARE_WITH_TIMEOUT(zkl.requests(), expected, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(
            cont->styleSheet(), QString("background-color: rgb(240, 240, 240);"), 2000);
        QTest::qWait(200);
        QCOMPARE(zkl.requests(), expected);
        QVERIFY(!zkl.overlapped);
    }
};

VORLO_TEST(TestBodyLink)
#include "test_body_link.moc"
