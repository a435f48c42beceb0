#include "select/select_data_files.h"
#include "tests/test_registry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
void touch(const QString &path)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("x");
}

template <typename T> T *child(QObject *o, const char *name)
{
    T *w = o->findChild<T *>(name);
    if (!w)
        qFatal("missing child %s", name);
    return w;
}
} // namespace

class SelectDataFilesTest : public QObject {
    Q_OBJECT

private slots:
    // New: the list is cleared before the files are emitted in dialog order.
    void newChoiceClearsFirstAndKeepsOrder()
    {
        SelectDataFiles s;
        s.addFileName("old.img");
        QStringList events;
        QStringList got;
        bool gotNew = false;
        connect(&s, &SelectDataFiles::filesCleared, [&] { events << "cleared"; });
        connect(&s, &SelectDataFiles::filesSelected, [&](const QStringList &f, bool n) {
            events << "selected";
            got = f;
            gotNew = n;
        });
        const QStringList files { "c.img", "a.img", "b.img" };
        // Through the dialog's own notification, as a choice by the user arrives.
        emit s.dialog()->filesSelected(files);
        QCOMPARE(events, QStringList({ "cleared", "selected" }));
        QCOMPARE(got, files);
        QVERIFY(gotNew);
        QCOMPARE(s.count(), 0);
        QCOMPARE(child<QLabel>(&s, "Count")->text(), QString("0"));
    }

    void addChoiceKeepsLoadedNames()
    {
        SelectDataFiles s;
        s.setNewOnLoad(false);
        QVERIFY(child<QRadioButton>(&s, "AddFiles")->isChecked());
        QVERIFY(!child<QRadioButton>(&s, "LoadNewFiles")->isChecked());
        s.addFileName("a.img");
        s.addFileName("b.img");
        QSignalSpy cleared(&s, &SelectDataFiles::filesCleared);
        QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
        s.chosenFiles({ "c.img" });
        QCOMPARE(cleared.count(), 0);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(1).toBool(), false);
        QCOMPARE(s.fileNames(), QStringList({ "a.img", "b.img" }));
        QCOMPARE(child<QLabel>(&s, "Count")->text(), QString("2"));
    }

    void newAndAddAreExclusive()
    {
        SelectDataFiles s;
        auto *n = child<QRadioButton>(&s, "LoadNewFiles");
        auto *a = child<QRadioButton>(&s, "AddFiles");
        QVERIFY(n->isChecked());
        a->click();
        QVERIFY(a->isChecked() && !n->isChecked());
        n->click();
        QVERIFY(n->isChecked() && !a->isChecked());
    }

    void multiTimes_data()
    {
        QTest::addColumn<QString>("count");
        QTest::addColumn<int>("expected");
        QTest::newRow("180") << "180" << 180;
        QTest::newRow("letters") << "abc" << 0;
        QTest::newRow("beyond 32 bits") << "4294967296" << 0;
        QTest::newRow("negative") << "-5" << 0;
        QTest::newRow("one") << "1" << 1;
    }
    void multiTimes()
    {
        QFETCH(QString, count);
        QFETCH(int, expected);
        SelectDataFiles s;
        child<QCheckBox>(&s, "LoadMultiTimes")->setChecked(true);
        child<QLineEdit>(&s, "MultiTimes")->setText(count);
        QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
        s.chosenFiles({ "first.img", "2.img", "3.img", "4.img", "5.img" });
        QCOMPARE(selected.count(), 1);
        const QStringList files = selected.at(0).at(0).toStringList();
        QCOMPARE(files.size(), expected);
        QCOMPARE(files.count("first.img"), expected);
        QVERIFY(selected.at(0).at(1).toBool());
    }

    // A count no scan can have would build a list that does not fit in memory.
    void multiTimesRefusesAbsurdCount()
    {
        SelectDataFiles s;
        s.setMultiTimes(true, 2000000000);
        QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Too many multi-times copies"));
        s.chosenFiles({ "first.img" });
        QCOMPARE(selected.count(), 1);
        QVERIFY(selected.at(0).at(0).toStringList().isEmpty());
    }

    void multiTimesWithEmptyChoicePassesEmptyList()
    {
        SelectDataFiles s;
        s.setMultiTimes(true, 180);
        QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
        s.chosenFiles({});
        QCOMPARE(selected.count(), 1);
        QVERIFY(selected.at(0).at(0).toStringList().isEmpty());
    }

    void indexStepsStayInsideTheList()
    {
        SelectDataFiles s;
        QSignalSpy changed(&s, &SelectDataFiles::currentIndexChanged);
        s.addFileName("a.img");
        s.addFileName("b.img");
        s.addFileName("c.img");
        // Only the first entry of an empty list becomes current.
        QCOMPARE(s.currentIndex(), 0);
        QCOMPARE(changed.count(), 1);
        changed.clear();

        s.prev();
        QCOMPARE(s.currentIndex(), 0);
        s.select(-1);
        s.select(3);
        QCOMPARE(s.currentIndex(), 0);
        QCOMPARE(changed.count(), 0);

        s.next();
        s.next();
        QCOMPARE(s.currentIndex(), 2);
        s.next();
        QCOMPARE(s.currentIndex(), 2);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(changed.last().at(0).toInt(), 2);

        s.select(1);
        QCOMPARE(s.currentIndex(), 1);
        s.prev();
        QCOMPARE(s.currentIndex(), 0);
    }

    void clearButtonEmptiesTheList()
    {
        SelectDataFiles s;
        s.addFileName("a.img");
        QSignalSpy cleared(&s, &SelectDataFiles::filesCleared);
        child<QPushButton>(&s, "Clear")->click();
        QCOMPARE(cleared.count(), 1);
        QCOMPARE(s.count(), 0);
        QCOMPARE(child<QLabel>(&s, "Count")->text(), QString("0"));
    }

    void expTime()
    {
        SelectDataFiles s;
        QCOMPARE(s.expTime(), 1.0);
        s.setExpTime(1.0 / 3.0);
        QCOMPARE(child<QLineEdit>(&s, "ExpTime")->text(), QString("0.333333"));
        s.setExpTime(1.5e-7);
        QCOMPARE(child<QLineEdit>(&s, "ExpTime")->text(), QString("1.5e-07"));
        child<QLineEdit>(&s, "ExpTime")->setText("fast");
        QCOMPARE(s.expTime(), 0.0);
    }

    void simpleModeHidesChoicesAndReplaces()
    {
        SelectDataFiles s;
        s.show();
        s.setNewOnLoad(false);
        s.setSimpleMode(true);
        for (const char *name : { "LoadNewFiles", "AddFiles", "KeepConditions", "LoadMultiTimes",
                 "MultiTimes", "SepLine" })
            QVERIFY2(!child<QWidget>(&s, name)->isVisible(), name);
        QVERIFY(s.isNewOnLoad());
        QVERIFY(child<QWidget>(&s, "Selected")->isVisible());
        s.setSimpleMode(false);
        QVERIFY(child<QWidget>(&s, "MultiTimes")->isVisible());
    }

    // Files of a directory by pattern, sorted by name ignoring case; the
    // sub-directory that matches the pattern is not passed on as an image.
    void selectFilesInDirListsMatchingFiles()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const QDir d(tmp.path());
        touch(d.filePath("b.img"));
        touch(d.filePath("A.img"));
        touch(d.filePath("c.tif"));
        touch(d.filePath("notes.txt"));
        QVERIFY(d.mkdir("sub.img"));

        SelectDataFiles s;
        s.addFileName("old.img");
        QSignalSpy cleared(&s, &SelectDataFiles::filesCleared);
        QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
        QTest::ignoreMessage(QtDebugMsg,
            QRegularExpression(
                "^clear files \".*" + QRegularExpression::escape(d.dirName()) + "\"$"));
        s.setDialogDirAndSelect(tmp.path(), { "*.img", "*.tif" });
        QVERIFY(cleared.count() >= 1);
        QCOMPARE(s.count(), 0);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toStringList(),
            QStringList({ d.absoluteFilePath("A.img"), d.absoluteFilePath("b.img"),
                d.absoluteFilePath("c.tif") }));
        QCOMPARE(QDir(s.dialog()->directory()).absolutePath(), d.absolutePath());
    }

    void selectFilesInDirWithoutMatchesStillClears()
    {
        QTemporaryDir tmp;
        SelectDataFiles s;
        s.addFileName("old.img");
        QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^clear files"));
        s.selectFilesInDir(tmp.path(), { "*.img" });
        QCOMPARE(s.count(), 0);
        QCOMPARE(selected.count(), 1);
        QVERIFY(selected.at(0).at(0).toStringList().isEmpty());
    }

    void selectFileInfosKeepsGivenOrder()
    {
        SelectDataFiles s;
        s.setNewOnLoad(false);
        QSignalSpy selected(&s, &SelectDataFiles::filesSelected);
        s.selectFileInfos({ QFileInfo("/d/z.img"), QFileInfo("/d/a.img") });
        QCOMPARE(selected.at(0).at(0).toStringList(), QStringList({ "/d/z.img", "/d/a.img" }));
        QCOMPARE(selected.at(0).at(1).toBool(), false);
    }

    // A long path shows its file name, elided in the middle; the tooltip
    // holds the whole path and, for a set, its first and last names.
    void fileBoxShowsTheFileName()
    {
        SelectDataFiles s;
        const QString dir = "/beamtime/2026-12/user group/sample A/series 7/";
        for (const char *n : { "proj_0000.img", "proj_0001.img", "proj_0179.img" })
            s.addFileName(dir + n);
        auto *box = child<QComboBox>(&s, "Selected");
        s.resize(700, 30);
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        const int x = box->fontMetrics().horizontalAdvance("x");
        const QString shown = s.shownText(x * 30);
        QVERIFY2(shown.endsWith("proj_0000.img"), qPrintable(shown));
        QVERIFY2(shown.startsWith("/be"), qPrintable(shown));
        QVERIFY(shown.size() < (dir + "proj_0000.img").size());
        // In the box's smallest width the name still shows whole.
        QVERIFY(s.shownText(x * 20).endsWith("/proj_0000.img"));
        QCOMPARE(s.shownText(x * 200), dir + "proj_0000.img");
        QVERIFY(box->width() >= box->fontMetrics().horizontalAdvance("x") * 20);
        const QString tip = box->toolTip();
        QVERIFY2(tip.contains(dir + "proj_0000.img"), qPrintable(tip));
        QVERIFY2(tip.contains("3 files: proj_0000.img ... proj_0179.img"), qPrintable(tip));
        s.select(2);
        QVERIFY(box->toolTip().contains(dir + "proj_0179.img"));
    }

    // Files of a choice that the owner refused: the box turns pink and says
    // why; the next choice clears it.
    void refusedFilesTurnTheBoxPink()
    {
        SelectDataFiles s;
        auto *box = child<QComboBox>(&s, "Selected");
        QVERIFY(s.statOk());
        s.setStat(false, "3 files refused, the first: /d/a.img (its images are 64 x 64 pixels)");
        QVERIFY(!s.statOk());
        QCOMPARE(box->styleSheet(), QString("background-color: rgb(255, 192, 192);"));
        QVERIFY(box->toolTip().startsWith("3 files refused"));
        s.chosenFiles({ "/d/b.img" });
        QVERIFY(s.statOk());
        QVERIFY(box->styleSheet().isEmpty());
        QVERIFY(!box->toolTip().contains("refused"));
    }

    void dialogIsNonModalMultiFileWithFilters()
    {
        SelectDataFiles s;
        QFileDialog *d = s.dialog();
        QVERIFY(!d->isModal());
        QVERIFY(!d->parent());
        QCOMPARE(d->fileMode(), QFileDialog::ExistingFiles);
        QCOMPARE(d->nameFilters(),
            QStringList({ "Itex File (*.img)", "Tiff File (*.tif *.tiff)",
                "HDF5 File (*.h5 *.hdf5 *.hdf *.nxs)", "Any Files (* *.*)" }));
    }
};

VORLO_TEST(SelectDataFilesTest)
#include "test_select_data_files.moc"
