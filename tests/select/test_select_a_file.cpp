#include "select/select_a_file.h"
#include "select/select_dir.h"
#include "tests/test_registry.h"
#include "util/data_root.h"

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
QLineEdit *field(QObject *o, const char *name)
{
    auto *w = o->findChild<QLineEdit *>(name);
    if (!w)
        qFatal("missing field %s", name);
    return w;
}
} // namespace

class SelectAFileTest : public QObject {
    Q_OBJECT

private slots:
    void openModeTakesTheFile()
    {
        SelectAFile s;
        QCOMPARE(s.dialog()->acceptMode(), QFileDialog::AcceptOpen);
        QCOMPARE(s.dialog()->fileMode(), QFileDialog::ExistingFile);
        QSignalSpy selected(&s, &SelectAFile::fileSelected);
        emit s.dialog()->fileSelected("/data/scan/i0.img");
        QCOMPARE(s.path(), QString("/data/scan/i0.img"));
        QCOMPARE(s.name(), QString("i0"));
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).toString(), QString("/data/scan/i0.img"));
    }

    void saveModeCreatesTheDirectory()
    {
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        SelectAFile s;
        s.setMode(SelectAFile::SaveMode);
        QCOMPARE(s.dialog()->acceptMode(), QFileDialog::AcceptSave);
        QCOMPARE(s.dialog()->nameFilters(), QStringList({ "Any file (* *.*)" }));
        const QString dir = tmp.path() + "/out/run";
        QVERIFY(!QDir(dir).exists());
        s.fileSelected0(dir + "/img.png");
        QVERIFY(QDir(dir).exists());
        QCOMPARE(s.path(), dir);
        QCOMPARE(s.name(), QString("img"));

        s.setPath(tmp.path() + "/set/by/command");
        QVERIFY(QDir(tmp.path() + "/set/by/command").exists());
    }

    void openModeCreatesNothing()
    {
        QTemporaryDir tmp;
        SelectAFile s;
        s.setPath(tmp.path() + "/not/there");
        QVERIFY(!QDir(tmp.path() + "/not").exists());
        QCOMPARE(s.path(), tmp.path() + "/not/there");
    }

    void saveDirectoryThatCannotBeMadeIsLogged()
    {
        QTemporaryDir tmp;
        QFile f(tmp.filePath("plain"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        SelectAFile s;
        s.setMode(SelectAFile::SaveMode);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Can't create directory"));
        s.setPath(tmp.filePath("plain/sub"));
        QCOMPARE(s.path(), tmp.filePath("plain/sub"));
    }

    void baseNameStopsAtFirstDot_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("name");
        QTest::newRow("two dots") << "/d/a.b.img"
                                  << "a";
        QTest::newRow("no dot") << "/d/plain"
                                << "plain";
        QTest::newRow("hidden") << "/d/.cfg"
                                << "";
    }
    void baseNameStopsAtFirstDot()
    {
        QFETCH(QString, file);
        QFETCH(QString, name);
        SelectAFile s;
        s.fileSelected0(file);
        QCOMPARE(s.name(), name);
    }

    void unknownModeLeavesThePath()
    {
        SelectAFile s;
        s.setPath("/keep");
        s.setMode(7);
        s.fileSelected0("/other/x.img");
        QCOMPARE(s.path(), QString("/keep"));
        QCOMPARE(s.name(), QString("x"));
        QCOMPARE(s.mode(), 7);
    }

    void clearKeepsTheTag()
    {
        SelectAFile s;
        s.setNameAndTagVisible(true);
        s.fileSelected0("/d/x.img");
        s.setAddTag("7100eV");
        QSignalSpy cleared(&s, &SelectAFile::clear);
        s.findChild<QPushButton *>("Clear")->click();
        QCOMPARE(cleared.count(), 1);
        QCOMPARE(s.path(), QString());
        QCOMPARE(s.name(), QString());
        QCOMPARE(s.addTag(), QString("7100eV"));
    }

    void nameAndTagHiddenUntilShown()
    {
        SelectAFile s;
        s.show();
        QVERIFY(!field(&s, "Name")->isVisible());
        QVERIFY(!field(&s, "AddTag")->isVisible());
        s.setNameAndTagVisible(true);
        QVERIFY(field(&s, "Name")->isVisible());
        QVERIFY(field(&s, "AddTag")->isVisible());
    }

    // In save mode the user types the name and the tag; both are what the
    // selector then reports, and a chosen file gives the name again.
    void nameAndTagAreTypedInSaveMode()
    {
        QTemporaryDir tmp;
        SelectAFile s;
        s.setMode(SelectAFile::SaveMode);
        s.setNameAndTagVisible(true);
        s.show();
        QVERIFY(QTest::qWaitForWindowExposed(&s));
        QLineEdit *name = field(&s, "Name");
        QLineEdit *tag = field(&s, "AddTag");
        QVERIFY(!name->isReadOnly() && name->isEnabled());
        QVERIFY(!tag->isReadOnly() && tag->isEnabled());
        QTest::keyClicks(name, "sampleB");
        QTest::keyClicks(tag, "7112_5eV");
        QCOMPARE(s.name(), QString("sampleB"));
        QCOMPARE(s.addTag(), QString("7112_5eV"));
        s.setAddTag("7120eV"); // the data-set walk sets it
        QCOMPARE(tag->text(), QString("7120eV"));
        s.fileSelected0(tmp.filePath("run/slice.dat"));
        QCOMPARE(s.name(), QString("slice"));
        QCOMPARE(s.addTag(), QString("7120eV"));
    }

    // A long path keeps its end in sight and all of it in the tooltip; a
    // file that could not be loaded says why there.
    void pathToolTipAndReason()
    {
        SelectAFile s;
        const QString p = "/beamtime/2026-12/user group/sample A/series 7/I0_7112_5eV.img";
        s.setPath(p);
        QLineEdit *path = field(&s, "FilePath");
        QCOMPARE(path->toolTip(), p);
        QCOMPARE(path->cursorPosition(), int(p.size()));
        s.setStatWithReason(false, "Not an image file of a known type");
        QCOMPARE(path->styleSheet(), QString("background-color: rgb(255, 192, 192);"));
        QCOMPARE(path->toolTip(), p + "\nNot an image file of a known type");
        s.setStatWithReason(true, QString());
        QCOMPARE(path->toolTip(), p);

        SelectDir d;
        d.setDirName("/beamtime/2026-12/user group/sample A");
        QCOMPARE(
            field(&d, "SelectedDir")->toolTip(), QString("/beamtime/2026-12/user group/sample A"));
        // Room for more than a short folder name (it was about 95 pixels).
        d.resize(d.minimumSizeHint());
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QVERIFY(field(&d, "SelectedDir")->width() >= 200);
    }

    void statColours()
    {
        SelectAFile s;
        s.setStat(true);
        QCOMPARE(
            field(&s, "FilePath")->styleSheet(), QString("background-color: rgb(211, 255, 241);"));
        s.setStat(false);
        QCOMPARE(
            field(&s, "FilePath")->styleSheet(), QString("background-color: rgb(255, 192, 192);"));
    }

    void dialogsOpenInTheDataRoot()
    {
        QTemporaryDir tmp;
        const QString saved = dataRoot();
        setDataRoot(tmp.path());
        SelectAFile f;
        SelectDir d;
        setDataRoot(saved);
        QCOMPARE(f.dialog()->directory().absolutePath(), QDir(tmp.path()).absolutePath());
        QCOMPARE(d.dialog()->directory().absolutePath(), QDir(tmp.path()).absolutePath());
        QVERIFY(!f.dialog()->isModal());
    }

    void selectDirShowsAndReportsTheChoice()
    {
        QTemporaryDir tmp;
        SelectDir d;
        QCOMPARE(d.dialog()->fileMode(), QFileDialog::Directory);
        QString seenInField;
        connect(&d, &SelectDir::aDirSelected, [&](const QString &) { seenInField = d.dirName(); });
        QSignalSpy chosen(&d, &SelectDir::aDirSelected);
        emit d.dialog()->fileSelected(tmp.path());
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.at(0).at(0).toString(), tmp.path());
        // Receivers already see the new directory in the field.
        QCOMPARE(seenInField, tmp.path());
        QVERIFY(field(&d, "SelectedDir")->isReadOnly());

        d.chooseDir("/elsewhere");
        QCOMPARE(d.dirName(), QString("/elsewhere"));
        QCOMPARE(chosen.count(), 2);
    }
};

VORLO_TEST(SelectAFileTest)
#include "test_select_a_file.moc"
