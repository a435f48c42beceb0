#include <QFileInfo> // before the main window's header, which uses QFileInfoList

#include "app/batch.h"
#include "app/body.h"
#include "app/command_table.h"
#include "app/setup_file.h"
#include "ct/proc_ctrl.h"
#include "select/seek_ctrl.h"
#include "select/select_a_file.h"
#include "select/select_a_img_file.h"
#include "select/select_data_files.h"
#include "tests/test_registry.h"
#include "tools/phantom_scan.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <memory>

namespace {

template <class W> W *child(Body &body, const char *name)
{
    W *w = body.findChild<W *>(QString::fromLatin1(name));
    if (!w)
        qFatal("no widget %s in the main window", name);
    return w;
}

QStringList readLines(const QString &fname)
{
    QFile f(fname);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList l;
    QTextStream in(&f);
    QString line;
    while (in.readLineInto(&line))
        l << line;
    return l;
}

// The line of a setup file that begins with key followed by blanks.
QString lineOf(const QStringList &lines, const QString &key)
{
    for (const QString &l : lines)
        if (l.startsWith(key + QLatin1Char(' ')))
            return l;
    return {};
}

bool writeText(const QString &fname, const QString &text)
{
    QFile f(fname);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    f.write(text.toUtf8());
    return true;
}

// A small scan of the phantom, written as the phantom tool writes it (in this
// process: a program started from here would leave the rest of the test
// unchecked by ThreadSanitizer).
bool writeScan(const QString &dir, int width, int height, int projections)
{
    ScanSettings s;
    s.width = width;
    s.height = height;
    s.projections = projections;
    return PhantomScan(s).writeScan(dir, nullptr);
}

} // namespace

class TestCommandTable : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Body> body;
    std::unique_ptr<CommandTable> table;

    ProcCtrl *proc() { return child<ProcCtrl>(*body, "procCtrl"); }

    // Executes one line; returns how often the end of the command was
    // signalled at once.
    int run(const QString &line)
    {
        QSignalSpy done(body.get(), &Body::callBatchCheckEnd);
        table->exec(BatchCmd(line));
        return done.count();
    }

private slots:
    void init()
    {
        body = std::make_unique<Body>(2, nullptr);
        table = std::make_unique<CommandTable>(*body);
    }

    void cleanup()
    {
        table.reset();
        body.reset();
    }

    void wordsIgnoreCase_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<double>("cor");
        QTest::newRow("upper") << "CT_COR 1000.5" << 1000.5;
        QTest::newRow("lower") << "ct_cor 1000.5" << 1000.5;
        QTest::newRow("mixed") << "Ct_Cor 12.25" << 12.25;
        QTest::newRow("not a number") << "ct_cor abc" << 0.0;
    }
    void wordsIgnoreCase()
    {
        QFETCH(QString, line);
        QFETCH(double, cor);
        QCOMPARE(run(line), 1);
        QCOMPARE(proc()->cor(), cor);
    }

    void everyOrdinaryCommandIsAnswered_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("unknown") << "no_such_command 1 2";
        QTest::newRow("comment word") << "#images_load /tmp *.img";
        QTest::newRow("header") << SetupFile::header;
        QTest::newRow("empty") << "";
        QTest::newRow("blank") << "   ";
        QTest::newRow("missing arguments") << "ct_slice_from";
        QTest::newRow("setting") << "show_sinogram";
    }
    void everyOrdinaryCommandIsAnswered()
    {
        QFETCH(QString, line);
        QCOMPARE(run(line), 1);
    }

    void onlyOneIsTrue_data()
    {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<bool>("on");
        QTest::newRow("1") << "1" << true;
        QTest::newRow("01") << "01" << true;
        QTest::newRow("0") << "0" << false;
        QTest::newRow("2") << "2" << false;
        QTest::newRow("yes") << "yes" << false;
        QTest::newRow("missing") << "" << false;
    }
    void onlyOneIsTrue()
    {
        QFETCH(QString, arg);
        QFETCH(bool, on);
        struct Switch {
            const char *key;
            const char *widget;
        };
        const Switch switches[] = { { "calc_show_res", "ShowCalcRes" },
            { "fix_color_scale", "FixColorScale" }, { "auto_save_image", "AutoSaveImage" },
            { "auto_save_data", "AutoSaveData" }, { "auto_save_tiff", "AutoSaveTiff" },
            { "auto_save_in_sub_folders", "SaveInSubFolders" },
            { "zelkovLink_set_send_msg", "SendMsg2Zelkov" },
            { "seq_exec_keep_range_on_new_set", "keepOnNewSet" },
            { "seq_exec_show", "ShowAdditionalInfo" } };
        for (const Switch &s : switches) {
            // Start from the opposite state so that the command must act.
            child<QAbstractButton>(*body, s.widget)->setChecked(!on);
            run(QString("%1 %2").arg(s.key, arg));
            QVERIFY2(child<QAbstractButton>(*body, s.widget)->isChecked() == on, s.key);
        }
        // The CT1/CT2 pair: switching one off selects the other.
        run("calc_ct1 " + arg);
        QCOMPARE(child<QRadioButton>(*body, "SelectCt1")->isChecked(), on);
        QCOMPARE(child<QRadioButton>(*body, "SelectCt2")->isChecked(), !on);
        run("calc_ct2 " + arg);
        QCOMPARE(child<QRadioButton>(*body, "SelectCt2")->isChecked(), on);
        QCOMPARE(child<QRadioButton>(*body, "SelectCt1")->isChecked(), !on);
    }

    void newOrAddOnLoad()
    {
        auto *files = child<SelectDataFiles>(*body, "CTFiles");
        run("images_add_on_load 1");
        QVERIFY(!files->isNewOnLoad());
        run("images_new_on_load 1");
        QVERIFY(files->isNewOnLoad());
        run("images_new_on_load 0");
        QVERIFY(!files->isNewOnLoad());
        run("images_add_on_load 0");
        QVERIFY(files->isNewOnLoad());
    }

    void seekIsClamped_data()
    {
        QTest::addColumn<QString>("arg");
        QTest::addColumn<int>("shown");
        QTest::newRow("negative") << "-3" << 0;
        QTest::newRow("inside") << "2" << 2;
        QTest::newRow("last") << "4" << 4;
        QTest::newRow("past the end") << "99999" << 4;
        QTest::newRow("beyond 32 bits") << "99999999999" << 0;
    }
    void seekIsClamped()
    {
        QFETCH(QString, arg);
        QFETCH(int, shown);
        auto *seek = child<SeekCtrl>(*body, "seekCtrl");
        seek->setMaximum(4);
        seek->setValue(1);
        run("images_seek " + arg);
        QCOMPARE(seek->value(), shown);
    }

    void quotedPathKeepsBlanks()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        auto *images = child<SelectAFile>(*body, "SelectImageSaveDir");
        const QString withBlank = tmp.path() + "/my images";
        run(QString("auto_save_image_path \"%1\"").arg(withBlank));
        QCOMPARE(images->path(), withBlank);
        QVERIFY(QFileInfo(withBlank).isDir());
        run(QString("auto_save_image_path %1").arg(withBlank));
        QCOMPARE(images->path(), tmp.path() + "/my");
        run("auto_save_image_name \"scan one\"");
        QCOMPARE(images->name(), QString("scan one"));
    }

    void emptyQuotedItemEndsArguments()
    {
        run("ct_recorded_cor_1 12 \"\" 500.5");
        QCOMPARE(proc()->recordedSlice1(), 12);
        QCOMPARE(proc()->recordedCor1(), 0.0);
        run("ct_recorded_cor_2 7 40.5 \"\" 9");
        QCOMPARE(proc()->recordedSlice2(), 7);
        QCOMPARE(proc()->recordedCor2(), 40.5);
    }

    void tabs_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("tab");
        QTest::newRow("orig") << "show_orig" << 0;
        QTest::newRow("sinogram") << "SHOW_SINOGRAM" << 1;
        QTest::newRow("ct1") << "show_ct1" << 2;
        QTest::newRow("i0") << "show_i0" << 3;
        QTest::newRow("bg") << "show_bg" << 4;
        QTest::newRow("tab 3") << "show_tab 3" << 3;
        QTest::newRow("first calculator") << "show_ct2" << 5;
        QTest::newRow("second calculator") << "show_ct2 1" << 6;
        QTest::newRow("no third calculator") << "show_ct2 2" << 4;
        QTest::newRow("negative calculator") << "show_ct2 -1" << 4;
    }
    void tabs()
    {
        QFETCH(QString, line);
        QFETCH(int, tab);
        auto *tabs = child<QTabWidget>(*body, "ImgsTab");
        QCOMPARE(tabs->count(), 7); // five fixed tabs and two calculators
        tabs->setCurrentIndex(4);
        run(line);
        QCOMPARE(tabs->currentIndex(), tab);
    }

    void rotationAxis()
    {
        run("ct_rot_ax_is_v 1");
        QSignalSpy changed(proc(), &ProcCtrl::rotAxUpdated);
        run("ct_rot_ax_is_h 1");
        QVERIFY(!proc()->rotAxIsV());
        run("ct_rot_ax_is_h 1"); // no change, no signal
        QCOMPARE(changed.count(), 1);
        run("ct_rot_ax_is_v yes"); // not 1: horizontal stays
        QVERIFY(!proc()->rotAxIsV());
        QCOMPARE(changed.count(), 1);
        run("ct_rot_ax_is_v 1");
        QVERIFY(proc()->rotAxIsV());
        QCOMPARE(changed.count(), 2);
    }

    void additionalInfoFramesOnly()
    {
        auto *box = child<QCheckBox>(*body, "ShowAdditionalInfo");
        const bool before = box->isChecked();
        run("add_inf_show 1");
        QVERIFY(!child<QWidget>(*body, "AdditionalInfo")->isHidden());
        QVERIFY(!child<QWidget>(*body, "ShowAdditionalAdditionalInfo")->isHidden());
        run("add_inf_show 0");
        QVERIFY(child<QWidget>(*body, "AdditionalInfo")->isHidden());
        QVERIFY(child<QWidget>(*body, "ShowAdditionalAdditionalInfo")->isHidden());
        QCOMPARE(box->isChecked(), before);
    }

    // With the keep-conditions switch on, a centre, slice and end slice given
    // by command before loading stay instead of the new stack's defaults.
    void commandsOverrideLoadDefaultsWithKeep()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QVERIFY(writeScan(tmp.path() + "/scan", 32, 4, 6));
        run("images_keep_setup 1");
        run("ct_cor 3.5");
        run("ct_proc_slice 1");
        run("ct_slice_to 2");
        run("ct_slice_from 1");
        run(QString("images_load %1/scan proj_*.img").arg(tmp.path()));
        QTRY_VERIFY_WITH_TIMEOUT(!body->isLoading(), 20000);
        QCOMPARE(proc()->cor(), 3.5);
        QCOMPARE(proc()->sliceNo(), 1);
        QCOMPARE(proc()->sliceTo(), 2);
        QCOMPARE(proc()->sliceFrom(), 1);
    }

    // Switches, numbers, texts with blanks and long keys read back as saved.
    void setupRoundTrip()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QString fname = tmp.filePath("a.cfg");
        const QString dataDir = tmp.path() + "/data out";
        for (const char *line : { "calc_show_res 1", "fix_color_scale 0", "auto_save_image 0",
                 "auto_save_data 1", "auto_save_in_sub_folders 1",
                 "auto_save_in_sub_folders_of_energy 1", "ct_rot_ax_is_h 1", "ct_cor 1023.5",
                 "ct_angle_offset 0.05", "ct_slice_from 10", "ct_slice_to 20", "ct_slice_step -2",
                 "ct_recorded_cor_1 100 1000.25", "ct_auto_gen_sinogram 0", "images_multi 1 3",
                 "images_keep_setup 1", "auto_save_data_upper_limit 1e-07",
                 "auto_save_data_lower_limit -2.5", "auto_save_data_offset 3",
                 "seq_exec_keep_range_on_new_set 1", "calc_ct1 0", "auto_save_data_name \"run 1\"",
                 "auto_save_tiff 1", "auto_save_tiff_name f32", "auto_save_tiff_tag E7120" })
            run(QString::fromLatin1(line));
        run(QString("auto_save_data_path \"%1\"").arg(dataDir));
        run(QString("auto_save_tiff_path \"%1/tif\"").arg(dataDir));
        QVERIFY(table->saveSetup(fname));

        const QStringList lines = readLines(fname);
        QCOMPARE(lines.value(0), SetupFile::header);
        QCOMPARE(lines.value(2), QString("## Original Images"));
        QVERIFY(!lines.join('\n').contains("images_load")); // no images listed
        QCOMPARE(lineOf(lines, "ct_rot_ax_is_h"), QString("ct_rot_ax_is_h           1"));
        QCOMPARE(lineOf(lines, "auto_save_data_upper_limit"),
            QString("auto_save_data_upper_limit 1e-07"));
        QCOMPARE(lineOf(lines, "seq_exec_keep_range_on_new_set"),
            QString("seq_exec_keep_range_on_new_set 1"));
        QCOMPARE(lineOf(lines, "auto_save_data_path"),
            QString("auto_save_data_path      \"%1\"").arg(dataDir));

        // A fresh window takes the setup back.
        cleanup();
        init();
        QVERIFY(table->loadSetup(fname));
        QVERIFY(child<QCheckBox>(*body, "ShowCalcRes")->isChecked());
        QVERIFY(!child<QCheckBox>(*body, "FixColorScale")->isChecked());
        QVERIFY(child<QCheckBox>(*body, "AutoSaveData")->isChecked());
        QVERIFY(child<QCheckBox>(*body, "AutoSaveTiff")->isChecked());
        QCOMPARE(child<SelectAFile>(*body, "SelectTiffSaveDir")->path(), dataDir + "/tif");
        QCOMPARE(child<SelectAFile>(*body, "SelectTiffSaveDir")->name(), QString("f32"));
        QCOMPARE(child<SelectAFile>(*body, "SelectTiffSaveDir")->addTag(), QString("E7120"));
        QVERIFY(child<QCheckBox>(*body, "SaveInSubFolders")->isChecked());
        QVERIFY(child<QRadioButton>(*body, "SubOfEnergy")->isChecked());
        QVERIFY(child<QCheckBox>(*body, "keepOnNewSet")->isChecked());
        QVERIFY(child<QRadioButton>(*body, "SelectCt2")->isChecked());
        QVERIFY(!proc()->rotAxIsV());
        QCOMPARE(proc()->cor(), 1023.5);
        QCOMPARE(proc()->angleOffset(), 0.05);
        QCOMPARE(proc()->sliceFrom(), 10);
        QCOMPARE(proc()->sliceTo(), 20);
        QCOMPARE(proc()->sliceStep(), -2);
        QCOMPARE(proc()->recordedSlice1(), 100);
        QCOMPARE(proc()->recordedCor1(), 1000.25);
        QVERIFY(!proc()->autoUpdate());
        auto *files = child<SelectDataFiles>(*body, "CTFiles");
        QVERIFY(files->isMultiTimes());
        QCOMPARE(files->multiTimesCount(), 3);
        QVERIFY(files->keepConditions());
        QCOMPARE(child<QLineEdit>(*body, "DataUpperLimit")->text(), QString("1e-07"));
        QCOMPARE(child<QLineEdit>(*body, "DataLowerLimit")->text(), QString("-2.5"));
        QCOMPARE(child<SelectAFile>(*body, "SelectDataSaveDir")->path(), dataDir);
        QCOMPARE(child<SelectAFile>(*body, "SelectDataSaveDir")->name(), QString("run 1"));
    }

    void setupWithVerticalAxisAndImages()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QVERIFY(writeScan(tmp.path() + "/scan", 32, 2, 6));
        const QString scanDir = QDir(tmp.path() + "/scan").absolutePath();
        run("ct_rot_ax_is_v 1");
        run(QString("images_load %1 proj_*.img").arg(scanDir));
        QTRY_VERIFY_WITH_TIMEOUT(!body->isLoading(), 20000);
        QCOMPARE(child<SelectDataFiles>(*body, "CTFiles")->count(), 6);

        const QString fname = tmp.filePath("v.cfg");
        QVERIFY(table->saveSetup(fname));
        const QStringList lines = readLines(fname);
        QCOMPARE(lineOf(lines, "#images_load"),
            QString("#images_load             %1 *.img").arg(scanDir));
        QCOMPARE(lineOf(lines, "ct_rot_ax_is_h"), QString("ct_rot_ax_is_h           0"));

        // The commented-out load line loads nothing; the axis comes back.
        cleanup();
        init();
        run("ct_rot_ax_is_h 1");
        QVERIFY(table->loadSetup(fname));
        QVERIFY(proc()->rotAxIsV());
        QVERIFY(child<QRadioButton>(*body, "RotAxV")->isChecked());
        QCOMPARE(child<SelectDataFiles>(*body, "CTFiles")->count(), 0);
    }

    // A colour range switched on by the file is the one the fields held at
    // that moment; the following lines only change the fields.
    void fixColourOrdering()
    {
        QTemporaryDir tmp;
        const QString fname = tmp.filePath("c.cfg");
        QVERIFY(writeText(fname, "fix_color_scale 1\nfix_color_min -5\nfix_color_max 9\n"));
        QSignalSpy answered(body.get(), &Body::callBatchCheckEnd);
        QVERIFY(table->loadSetup(fname));
        QVERIFY(child<QCheckBox>(*body, "FixColorScale")->isChecked());
        QCOMPARE(body->colorMin(), -5.0);
        QCOMPARE(body->colorMax(), 9.0);
        // Lines of a setup do not answer a batch in progress.
        QCOMPARE(answered.count(), 0);
    }

    void unreadableSetup()
    {
        QTemporaryDir tmp;
        const QString missing = tmp.filePath("none/x.cfg");
        QTest::ignoreMessage(
            QtDebugMsg, qPrintable(QString("can't open save setup file : \"%1\"").arg(missing)));
        QVERIFY(!table->loadSetup(missing));
        QTest::ignoreMessage(
            QtDebugMsg, qPrintable(QString("can't open save setup file : \"%1\"").arg(missing)));
        QVERIFY(!table->saveSetup(missing));
    }

    // "images_load" is done when loading has ended and "calc_exec" when the
    // calculation has: the next line sees the whole stack and the result.
    void batchWaitsForLoadingAndCalculation()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        QVERIFY(writeScan(tmp.path() + "/scan", 32, 4, 40));
        const QString bat = tmp.filePath("job.bat");
        QVERIFY(writeText(bat,
            QString("ct_rot_ax_is_v 1\nct_auto_gen_sinogram 1\nimages_load %1/scan proj_*.img\n"
                    "show_sinogram\ncalc_ct1 1\ncalc_exec\nshow_bg\n")
                .arg(tmp.path())));
        auto *tabs = child<QTabWidget>(*body, "ImgsTab");
        auto *files = child<SelectDataFiles>(*body, "CTFiles");
        QStringList events;
        int filesAtSinogram = -1;
        bool loadingAtSinogram = true;
        connect(tabs, &QTabWidget::currentChanged, this, [&](int i) {
            events << QString("tab %1").arg(i);
            if (i == 1) {
                filesAtSinogram = files->count();
                loadingAtSinogram = body->isLoading();
            }
        });
        connect(body.get(), &Body::calcFinished, this, [&] { events << "calc"; });
        body->batchLoad(bat);
        body->batchExec();
        QTRY_VERIFY_WITH_TIMEOUT(events.contains("tab 4"), 30000);
        QCOMPARE(filesAtSinogram, 40);
        QVERIFY(!loadingAtSinogram);
        QCOMPARE(events, QStringList({ "tab 1", "calc", "tab 4" }));
    }

    // The ok flag of "seq_exec_next" is seen only by the line right after it.
    void seqExecNextSetsOk()
    {
        QTemporaryDir tmp;
        const QString bat = tmp.filePath("next.bat");
        // No data sets: there is no next one.
        QVERIFY(writeText(bat, "seq_exec_next\n:ifng :end\nct_cor 5\n"));
        body->batchLoad(bat);
        body->batchExec();
        QTest::qWait(300);
        QVERIFY(proc()->cor() != 5.0);

        QVERIFY(writeText(bat, "seq_exec_next\nshow_orig\n:ifng :end\nct_cor 6\n"));
        body->batchLoad(bat);
        body->batchExec();
        QTRY_COMPARE(proc()->cor(), 6.0);
    }
};

VORLO_TEST(TestCommandTable)
#include "test_command_table.moc"
