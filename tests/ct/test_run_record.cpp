// The run record of a range run: its text read back the way a script would
// (keys split at " : ", slice lines parsed), the centre of every slice with
// two recorded centres, one fixed centre, a stopped run, the places that get a
// record, the input pattern, and writing through a temporary file.
#include "ct/proc_ctrl.h"
#include "ct/run_record.h"
#include "tests/test_registry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Parsed {
    QString header;
    QMap<QString, QString> values;
    QStringList keys; // in file order
    QVector<RunRecordSlice> slices;
    QStringList sliceLabels;
    QStringList failed; // "<label> : <reason>" of the failed lines
    bool ok = true; // every line was understood
};

// Reads a record as a script would: "key : value" lines,
// "slice <label> centre <value>" lines and, last, "failed <label> : <reason>"
// lines.
Parsed parse(const QByteArray &text)
{
    Parsed p;
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    if (lines.isEmpty() || !text.endsWith('\n'))
        p.ok = false;
    static const QRegularExpression sliceLine(QStringLiteral("^slice (\\d{5,}) centre (\\S+)$"));
    for (int i = 0; i < lines.size() - 1; ++i) {
        const QString &l = lines[i];
        if (i == 0) {
            p.header = l;
            continue;
        }
        static const QRegularExpression failedLine(QStringLiteral("^failed (\\d{5,} : .*)$"));
        const auto f = failedLine.match(l);
        if (f.hasMatch()) {
            p.failed << f.captured(1);
            continue;
        }
        const auto m = sliceLine.match(l);
        if (m.hasMatch()) {
            p.ok = p.ok && p.failed.isEmpty(); // the failed lines come last
            bool good = false;
            const double cor = m.captured(2).toDouble(&good);
            p.ok = p.ok && good;
            p.slices.push_back({ m.captured(1).toInt(), cor });
            p.sliceLabels << m.captured(1);
            continue;
        }
        const int at = l.indexOf(QStringLiteral(" : "));
        if (at < 0 || !p.slices.isEmpty()) { // key lines all come before the slices
            p.ok = false;
            continue;
        }
        const QString key = l.left(at).trimmed();
        p.values.insert(key, l.mid(at + 3));
        p.keys << key;
    }
    return p;
}

CtRunParams rangeParams(int from, int to, int step, int threads)
{
    CtRunParams p;
    p.calcCt2 = true;
    p.autoExec = true;
    p.rotAxIsV = true;
    p.sliceFrom = from;
    p.sliceTo = to;
    p.sliceStep = step;
    p.threads = threads;
    p.cor = 63.7;
    p.upperLimit = 0.25;
    p.lowerLimit = -0.125;
    p.offset = 1.0 / 3.0;
    p.angleOffset = 0.1 + 0.2; // 0.30000000000000004: must not be rounded to 0.3
    return p;
}

RunRecordFacts baseFacts(const CtRunParams &p)
{
    RunRecordFacts f;
    f.started = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7, 890), Qt::OffsetFromUTC, 9 * 3600);
    f.ended = f.started.addSecs(61);
    f.version = QStringLiteral("0.1.0");
    for (int k = 0; k < 12; ++k)
        f.inputFiles << QStringLiteral("/data/run7/scan-%1.img").arg(k, 4, 10, QLatin1Char('0'));
    f.projections = 12;
    f.i0Path = QStringLiteral("/data/run7/i0-0000.img");
    f.params = p;
    f.threadsUsed = 2;
    f.kernel = QStringLiteral("avx2-pairs");
    f.regions = { { true, 1.5, 2, 30.25, 31 }, { true, 1.5, 2, 30.25, 31 } };
    f.targets = { { "data", "/out", "res", "E1" } };
    return f;
}

const RunRecordPlace dataPlace { "/out", "res", "E1", { "data" } };

} // namespace

class TestRunRecord : public QObject {
    Q_OBJECT

private slots:
    void recordedCentresGiveEachSliceItsCentre()
    {
        CtRunParams p = rangeParams(10, 30, 5, 2);
        p.recordedSlice1 = 0;
        p.recordedCor1 = 100.1;
        p.recordedSlice2 = 40;
        p.recordedCor2 = 104.3;
        RunRecordFacts f = baseFacts(p);
        for (int s = 10; s <= 30; s += 5)
            f.slices.push_back({ s, ProcCtrl::corForSlice(p, s) });
        f.slicesDone = 5;

        const Parsed r = parse(runRecordText(f, dataPlace));
        QVERIFY(r.ok);
        QCOMPARE(r.header, QString("#VRLO-RunRecord"));
        QCOMPARE(r.values["centre rule"], QString("recorded centres"));
        QCOMPARE(r.values["recorded centre 1"], QString("slice 00000 centre 100.1"));
        QCOMPARE(r.values["recorded centre 2"], QString("slice 00040 centre 104.3"));
        QCOMPARE(r.slices.size(), 5);
        for (int i = 0; i < 5; ++i) {
            const int s = 10 + 5 * i;
            QCOMPARE(r.slices[i].slice, s);
            QCOMPARE(r.sliceLabels[i], QString::asprintf("%05d", s));
            // Read back bit for bit, and on the line through the records.
            QCOMPARE(r.slices[i].cor, ProcCtrl::corForSlice(p, s));
            QVERIFY(qAbs(r.slices[i].cor - (100.1 + 4.2 * s / 40.0)) < 1e-9);
        }
        // The middle slice lies between the two recorded centres, not on either.
        QVERIFY(r.slices[2].cor > 100.1 && r.slices[2].cor < 104.3);

        QCOMPARE(r.values["status"], QString("finished"));
        QCOMPARE(r.values["slices done"], QString("5 of 5"));
        QCOMPARE(r.values["slice from"], QString("10"));
        QCOMPARE(r.values["slice to"], QString("30"));
        QCOMPARE(r.values["slice step"], QString("5"));
        QCOMPARE(r.values["rotation axis"], QString("vertical"));
        QCOMPARE(r.values["angle offset"].toDouble(), 0.1 + 0.2);
        QCOMPARE(r.values["offset"].toDouble(), 1.0 / 3.0);
        QCOMPARE(r.values["upper limit"], QString("0.25"));
        QCOMPARE(r.values["lower limit"], QString("-0.125"));
        QCOMPARE(r.values["calc region"], QString("1.5 2 30.25 31"));
        QCOMPARE(r.values["threads"], QString("2"));
        QCOMPARE(r.values["threads used"], QString("2"));
        QCOMPARE(r.values["input directory"], QString("/data/run7"));
        QCOMPARE(r.values["input pattern"], QString("scan-00*.img"));
        QCOMPARE(r.values["input count"], QString("12"));
        QCOMPARE(r.values["input first"], QString("/data/run7/scan-0000.img"));
        QCOMPARE(r.values["input last"], QString("/data/run7/scan-0011.img"));
        QCOMPARE(r.values["i0"], QString("/data/run7/i0-0000.img"));
        QCOMPARE(r.values["bg"], QString("(none)"));
        QCOMPARE(r.values["program"], QString("Vorlo2 0.1.0"));
        QCOMPARE(r.values["saved kinds"], QString("data"));
        // The date reads back as the same instant, offset included.
        const QDateTime d = QDateTime::fromString(r.values["date"], Qt::ISODateWithMs);
        QVERIFY(d.isValid());
        QCOMPARE(d.toMSecsSinceEpoch(), f.started.toMSecsSinceEpoch());
        QCOMPARE(r.values["date"], QString("2026-03-04T05:06:07.890+09:00"));
    }

    void singleCentreDownwards()
    {
        CtRunParams p = rangeParams(100, 90, -5, 4);
        p.rotAxIsV = false;
        RunRecordFacts f = baseFacts(p);
        f.threadsUsed = 3;
        f.regions = { {}, {}, {} };
        f.i0Path.clear();
        f.bgPath = QStringLiteral("/data/run7/bg.img");
        f.inputFiles = { "/d/a/x1.img", "/d/b/x2.img" };
        f.projections = 2;
        for (int s : { 100, 95, 90 })
            f.slices.push_back({ s, p.cor });
        f.slicesDone = 3;
        const QByteArray text = runRecordText(f, { "/out", "res", "", { "image", "data" } });
        const QByteArray expected = "#VRLO-RunRecord\n"
                                    "date               : 2026-03-04T05:06:07.890+09:00\n"
                                    "ended              : 2026-03-04T05:07:08.890+09:00\n"
                                    "program            : Vorlo2 0.1.0\n"
                                    "status             : finished\n"
                                    "slices done        : 3 of 3\n"
                                    "slices failed      : 0\n"
                                    "saved kinds        : image data\n"
                                    "save name          : res\n"
                                    "save tag           : \n"
                                    "input directory    : (several)\n"
                                    "input pattern      : x*.img\n"
                                    "input count        : 2\n"
                                    "input first        : /d/a/x1.img\n"
                                    "input last         : /d/b/x2.img\n"
                                    "projections        : 2\n"
                                    "i0                 : (none)\n"
                                    "bg                 : /data/run7/bg.img\n"
                                    "rotation axis      : horizontal\n"
                                    "slice from         : 100\n"
                                    "slice to           : 90\n"
                                    "slice step         : -5\n"
                                    "centre             : 63.7\n"
                                    "centre rule        : fixed\n"
                                    "angle offset       : 0.30000000000000004\n"
                                    "filter             : ramp\n"
                                    "method             : fbp\n"
                                    "ring removal       : off\n"
                                    "calc region        : whole grid\n"
                                    "upper limit        : 0.25\n"
                                    "lower limit        : -0.125\n"
                                    "offset             : 0.3333333333333333\n"
                                    "threads            : 4\n"
                                    "threads used       : 3\n"
                                    "kernel             : avx2-pairs\n"
                                    "slice 00100 centre 63.7\n"
                                    "slice 00095 centre 63.7\n"
                                    "slice 00090 centre 63.7\n";
        QCOMPARE(text, expected);
        QVERIFY(parse(text).ok);
    }

    // Slices that yielded no file, or not every file, are listed with their
    // reasons after the slices, on one line each, and counted.
    void failedSlicesAreListed()
    {
        CtRunParams p = rangeParams(0, 3, 1, 2);
        RunRecordFacts f = baseFacts(p);
        for (int s = 0; s < 4; ++s)
            f.slices.push_back({ s, p.cor });
        f.failed.push_back({ 1, "no sinogram for the centre 99" });
        f.failed.push_back({ 3, "not saved : /out/a\nb.dat" });
        f.slicesDone = 2;
        const Parsed r = parse(runRecordText(f, dataPlace));
        QVERIFY(r.ok);
        QCOMPARE(r.values["status"], QString("finished"));
        QCOMPARE(r.values["slices done"], QString("2 of 4"));
        QCOMPARE(r.values["slices failed"], QString("2"));
        QCOMPARE(r.slices.size(), 4);
        QCOMPARE(r.failed.size(), 2);
        QCOMPARE(r.failed[0], QString("00001 : no sinogram for the centre 99"));
        QVERIFY(r.failed[1].startsWith("00003 : not saved : /out/a"));

        // A slice whose data file and picture both failed is one failed slice
        // with two reasons.
        f.failed.push_back({ 3, "not saved : /out/a.png" });
        const Parsed twice = parse(runRecordText(f, dataPlace));
        QCOMPARE(twice.values["slices failed"], QString("2"));
        QCOMPARE(twice.failed.size(), 3);
    }

    void stoppedRunSaysHowFarItGot()
    {
        CtRunParams p = rangeParams(0, 9, 1, 2);
        // Records at one slice give no line: the centre stays fixed.
        p.recordedSlice1 = 5;
        p.recordedSlice2 = 5;
        p.recordedCor1 = 70;
        p.recordedCor2 = 71;
        RunRecordFacts f = baseFacts(p);
        for (int s = 0; s < 4; ++s)
            f.slices.push_back({ s, p.cor });
        f.slicesDone = 3;
        f.stopped = true;
        const Parsed r = parse(runRecordText(f, dataPlace));
        QVERIFY(r.ok);
        QCOMPARE(r.values["status"], QString("stopped"));
        QCOMPARE(r.values["slices done"], QString("3 of 10"));
        QCOMPARE(r.slices.size(), 4);
        QCOMPARE(r.values["centre rule"], QString("fixed"));
        QCOMPARE(r.values["recorded centre 1"], QString("slice 00005 centre 70"));
    }

    void centresFollowingNeitherRuleAreListedAsGiven()
    {
        CtRunParams p = rangeParams(0, 2, 1, 1);
        RunRecordFacts f = baseFacts(p);
        f.slices = { { 0, 63.7 }, { 1, 64.1 }, { 2, 512.3 } };
        f.regions = { { true, 0, 0, 10, 10 }, { false, 0, 0, 0, 0 } };
        const Parsed r = parse(runRecordText(f, dataPlace));
        QVERIFY(r.ok);
        QCOMPARE(r.values["centre rule"], QString("per slice"));
        QCOMPARE(r.slices[2].cor, 512.3);
        QVERIFY(runRecordText(f, dataPlace).contains("slice 00002 centre 512.3\n"));
        // Calculators with regions of their own get a line each.
        QVERIFY(!r.values.contains("calc region"));
        QCOMPARE(r.values["calc region 1"], QString("0 0 10 10"));
        QCOMPARE(r.values["calc region 2"], QString("whole grid"));
        QVERIFY(!r.values.contains("recorded centre 1"));
    }

    void linesStayLinesWithOddPaths()
    {
        RunRecordFacts f = baseFacts(rangeParams(0, 0, 0, 1));
        f.inputFiles.clear();
        f.projections = 0;
        f.i0Path = QStringLiteral("/a\nb.img");
        const Parsed r = parse(runRecordText(f, dataPlace));
        QVERIFY(r.ok);
        QCOMPARE(r.values["i0"], QString("/a b.img"));
        QCOMPARE(r.values["input count"], QString("0"));
        QCOMPARE(r.values["input directory"], QString("(none)"));
        QCOMPARE(r.values["slices done"], QString("0 of 1")); // step 0 counts as 1
        QVERIFY(r.slices.isEmpty());
    }

    void plannedSlices_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("count");
        QTest::newRow("up") << 0 << 9 << 1 << 10;
        QTest::newRow("up, step past the end") << 0 << 10 << 3 << 4;
        QTest::newRow("down with a negative step") << 100 << 90 << -5 << 3;
        QTest::newRow("down with a positive step") << 100 << 90 << 5 << 3;
        QTest::newRow("step 0") << 3 << 5 << 0 << 3;
        QTest::newRow("one slice") << 7 << 7 << 4 << 1;
        QTest::newRow("whole int range") << INT_MIN << INT_MAX << INT_MAX << 3;
    }
    void plannedSlices()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, step);
        QFETCH(int, count);
        CtRunParams p;
        p.sliceFrom = from;
        p.sliceTo = to;
        p.sliceStep = step;
        QCOMPARE(runRecordPlannedSlices(p), count);
    }

    void pattern_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("pattern");
        QTest::newRow("none") << QStringList() << QString();
        QTest::newRow("one") << QStringList { "/d/s-0001.img" } << QString("s-0001.img");
        QTest::newRow("multi times")
            << QStringList { "/d/s-1.img", "/d/s-1.img" } << QString("s-1.img");
        QTest::newRow("numbered") << QStringList { "/d/s-0001.img", "/d/s-0019.img" }
                                  << QString("s-00*.img");
        QTest::newRow("no common part") << QStringList { "a.img", "b.tif" } << QString("*");
        // The end must not reuse characters of the beginning: "abc*" matches both.
        QTest::newRow("one name inside the other")
            << QStringList { "abc", "abcabc" } << QString("abc*");
    }
    void pattern()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, pattern);
        QCOMPARE(runRecordPattern(files), pattern);
        if (pattern.isEmpty())
            return;
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern));
        for (const QString &f : files)
            QVERIFY2(re.match(QFileInfo(f).fileName()).hasMatch(), qPrintable(f));
    }

    void onePlacePerPathNameAndTag()
    {
        const QVector<RunRecordPlace> same = runRecordPlaces({ { "image", "/o", "r", "t" },
            { "data", "/o", "r", "t" }, { "tiff", "/o", "r", "t" } });
        QCOMPARE(same.size(), 1);
        QCOMPARE(same[0].kinds, QStringList({ "image", "data", "tiff" }));

        const QVector<RunRecordPlace> apart
            = runRecordPlaces({ { "image", "/o", "r", "t" }, { "data", "/o", "r2", "t" },
                { "tiff", "/p", "r", "t" }, { "x", "/o", "r", "t2" }, { "data", "", "r", "t" } });
        QCOMPARE(apart.size(), 4); // the empty path saves nothing and gets no record
        QCOMPARE(apart[0].kinds, QStringList({ "image" }));
        QCOMPARE(apart[2].path, QString("/p"));
        QVERIFY(runRecordPlaces({}).isEmpty());
        QCOMPARE(runRecordFileName("res", "E1"), QString("res-E1-run.txt"));
        QCOMPARE(runRecordFileName("res", ""), QString("res--run.txt"));
    }

    void writesBesideTheResultsAndRefusesABadFolder()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        RunRecordFacts f = baseFacts(rangeParams(0, 1, 1, 1));
        f.slices = { { 0, 63.7 }, { 1, 63.7 } };
        const RunRecordPlace place { tmp.path(), "res", "E1", { "data" } };
        QVERIFY(writeRunRecord(f, place));
        f.slicesDone = 2; // a second run replaces the first record
        QVERIFY(writeRunRecord(f, place));
        QFile file(tmp.filePath("res-E1-run.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), runRecordText(f, place));
        // Nothing else is left in the folder.
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList({ "res-E1-run.txt" }));

        // A folder below a plain file cannot exist, whoever runs the program.
        QFile plain(tmp.filePath("plain"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString bad = tmp.filePath("plain/sub");
        QTest::ignoreMessage(QtDebugMsg,
            qPrintable(QString("Can't write file :  \"%1\"").arg(bad + "/res-E1-run.txt")));
        QVERIFY(!writeRunRecord(f, { bad, "res", "E1", { "data" } }));
        QTest::ignoreMessage(QtDebugMsg, "Can't write file :  \"res-E1-run.txt\"");
        QVERIFY(!writeRunRecord(f, { "", "res", "E1", { "data" } }));
    }

    void versionOfTheProgram()
    {
        const QString kept = QCoreApplication::applicationVersion();
        QCoreApplication::setApplicationVersion(QString());
        const QString built = runRecordVersion();
        QVERIFY(QRegularExpression("^\\d+\\.\\d+\\.\\d+$").match(built).hasMatch());
        QCoreApplication::setApplicationVersion("2.5-test");
        QCOMPARE(runRecordVersion(), QString("2.5-test"));
        QCoreApplication::setApplicationVersion(kept);
    }
};

VORLO_TEST(TestRunRecord)
#include "test_run_record.moc"
