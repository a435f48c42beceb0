#include "select/ct_file_set.h"
#include "select/select_data_dir.h"
#include "tests/test_registry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
void touch(const QDir &d, const QString &name)
{
    QFile f(d.filePath(name));
    QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(name));
    f.write("x");
}

QStringList names(const QFileInfoList &list)
{
    QStringList n;
    for (const QFileInfo &i : list)
        n << i.fileName();
    return n;
}
} // namespace

class SelectDataDirTest : public QObject {
    Q_OBJECT

private slots:
    void energyRule_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<double>("eV");
        QTest::newRow("underscore point") << "7112_5eV" << 7112.5 << "eV" << 7112.5;
        QTest::newRow("keV") << "7.1125keV" << 7.1125 << "keV" << 7112.5;
        QTest::newRow("KEV upper") << "7_112KEV" << 7.112 << "KEV" << 7112.0;
        QTest::newRow("no unit") << "7100" << 7100.0 << "" << 7100.0;
        QTest::newRow("no digit") << "abc" << 0.0 << "abc" << 0.0;
        QTest::newRow("not a number") << "E7100eV" << 0.0 << "eV" << 0.0;
        QTest::newRow("empty") << "" << 0.0 << "" << 0.0;
    }
    void energyRule()
    {
        QFETCH(QString, token);
        QFETCH(double, value);
        QFETCH(QString, unit);
        QFETCH(double, eV);
        QString u;
        const double v = energyOfName(token, &u);
        QCOMPARE(v, value);
        QCOMPARE(u, unit);
        QCOMPARE(v * unitFactorOf(u), eV);
    }

    void fileSetFieldsFromName_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("setKey");
        QTest::addColumn<QString>("sample");
        QTest::addColumn<QString>("energyText");
        QTest::addColumn<double>("eV");
        QTest::newRow("keV") << "S-7_1125keV-001.img"
                             << "S-7_1125keV"
                             << "S"
                             << "7_1125keV" << 7112.5;
        QTest::newRow("eV") << "Fe_oxide-7100eV-001.img"
                            << "Fe_oxide-7100eV"
                            << "Fe_oxide"
                            << "7100eV" << 7100.0;
        QTest::newRow("one dash") << "S1-001.img"
                                  << "S1"
                                  << "S1"
                                  << "S1" << 0.0;
        QTest::newRow("no dash") << "plain.img"
                                 << "plain.img"
                                 << "plain.img"
                                 << "plain.img" << 0.0;
    }
    void fileSetFieldsFromName()
    {
        QFETCH(QString, file);
        QFETCH(QString, setKey);
        QFETCH(QString, sample);
        QFETCH(QString, energyText);
        QFETCH(double, eV);
        const CtFileSet s(QFileInfo("/m/" + file));
        QCOMPARE(s.firstFileName, file);
        QCOMPARE(s.setKey, setKey);
        QCOMPARE(s.sampleName, sample);
        QCOMPARE(s.energyText, energyText);
        QCOMPARE(s.energyInEV(), eV);
        QCOMPARE(s.files.size(), 1);
    }

    void asrStandardGroupsConsecutiveFiles()
    {
        QTemporaryDir tmp;
        const QDir d(tmp.path());
        for (const char *n : { "S1-7100eV-001.img", "S1-7100eV-002.img", "S1-7110eV-001.img",
                 "S2-7100eV-001.img", "S2-7100eV-001.tif" })
            touch(d, n);
        SelectDataDir s;
        QVERIFY(s.isASRStandard());
        QSignalSpy sets(&s, &SelectDataDir::newSets);
        s.setDataDir(tmp.path());
        QCOMPARE(sets.count(), 1);
        QCOMPARE(sets.at(0).at(0).toInt(), 3);
        QCOMPARE(s.entries(),
            QStringList(
                { "1 : S1 (7100[eV], 2)", "2 :    (7110[eV], 1)", "3 : S2 (7100[eV], 1)" }));
        QCOMPARE(s.currentIndex(), 0);
        QCOMPARE(s.currentTag(), QString("7100eV"));
        QCOMPARE(s.currentEnergy(), 7100.0);

        QSignalSpy files(&s, &SelectDataDir::selectedFileInfoList);
        s.set();
        QCOMPARE(files.count(), 1);
        QCOMPARE(names(files.at(0).at(0).value<QFileInfoList>()),
            QStringList({ "S1-7100eV-001.img", "S1-7100eV-002.img" }));
        QVERIFY(s.advance());
        QCOMPARE(s.currentTag(), QString("7110eV"));
    }

    void asrStandardEnergyInKeV()
    {
        QTemporaryDir tmp;
        touch(QDir(tmp.path()), "S-7_1125keV-001.img");
        SelectDataDir s;
        s.setDataDir(tmp.path());
        QCOMPARE(s.entries(), QStringList({ "1 : S (7.1125[keV], 1)" }));
        QCOMPARE(s.currentEnergy(), 7112.5);
        QCOMPARE(s.currentTag(), QString("7_1125keV"));
    }

    // Sample and folder names are shown as they are, even when they hold "%n".
    void percentSignsInNamesAreKeptAsTyped()
    {
        QTemporaryDir tmp;
        const QDir d(tmp.path());
        touch(d, "S%5-7100eV-001.img");
        touch(d, "S%5-7100eV-002.img");
        touch(d, "T%1%3-7110eV-001.img");
        SelectDataDir s;
        s.setDataDir(tmp.path());
        QCOMPARE(s.entries(), QStringList({ "1 : S%5 (7100[eV], 2)", "2 : T%1%3 (7110[eV], 1)" }));

        QTemporaryDir sub;
        QVERIFY(QDir(sub.path()).mkdir("E%2_7100eV"));
        SelectDataDir s2;
        s2.setIsASRStandard(false);
        s2.setDataDir(sub.path());
        QCOMPARE(s2.entries(), QStringList({ "1 : E%2_7100eV" }));
    }

    void asrStandardWithoutMatchesKeepsTheList()
    {
        QTemporaryDir full, empty;
        touch(QDir(full.path()), "A-7000eV-1.img");
        touch(QDir(full.path()), "A-7010eV-1.img");
        SelectDataDir s;
        s.setDataDir(full.path());
        s.next();
        QSignalSpy sets(&s, &SelectDataDir::newSets);
        s.setDataDir(empty.path());
        QCOMPARE(sets.count(), 1);
        QCOMPARE(sets.at(0).at(0).toInt(), 2);
        QCOMPARE(s.count(), 2);
        QCOMPARE(s.currentIndex(), 1);
        QCOMPARE(s.currentTag(), QString("7010eV"));
    }

    void subDirectoriesInCaseSensitiveOrder()
    {
        QTemporaryDir tmp;
        QDir d(tmp.path());
        for (const char *n : { "E2", "E10", "e1" })
            QVERIFY(d.mkdir(n));
        touch(d, "loose.img");
        SelectDataDir s;
        s.setIsASRStandard(false);
        QSignalSpy sets(&s, &SelectDataDir::newSets);
        s.setDataDir(tmp.path());
        QCOMPARE(sets.last().at(0).toInt(), 3);
        QCOMPARE(s.entries(), QStringList({ "1 : E10", "2 : E2", "3 : e1" }));
        QCOMPARE(s.currentTag(), QString("E10"));
        // "E10" is not a number up to its last digit: energy 0.
        QCOMPARE(s.currentEnergy(), 0.0);
    }

    void subDirectorySetNamesDirAndPatterns()
    {
        QTemporaryDir tmp;
        QDir d(tmp.path());
        QVERIFY(d.mkdir("7100eV"));
        SelectDataDir s;
        s.setIsASRStandard(false);
        s.setPattern("*.img *.tif");
        s.setDataDir(tmp.path());
        QSignalSpy sel(&s, &SelectDataDir::selected);
        s.set();
        QCOMPARE(sel.count(), 1);
        QCOMPARE(sel.at(0).at(0).toString(), tmp.path() + QDir::separator() + "7100eV");
        QCOMPARE(sel.at(0).at(1).toStringList(), QStringList({ "*.img", "*.tif" }));
        QCOMPARE(s.currentEnergy(), 7100.0);
    }

    // Two wildcards are one pattern in the ASR-standard layout and match nothing.
    void twoWildcardsInTheAsrLayout()
    {
        QTemporaryDir tmp;
        touch(QDir(tmp.path()), "S1-7100eV-001.img");
        touch(QDir(tmp.path()), "S1-7100eV-002.tif");
        SelectDataDir s;
        s.setPattern("*.img *.tif");
        QSignalSpy sets(&s, &SelectDataDir::newSets);
        s.setDataDir(tmp.path());
        QCOMPARE(sets.last().at(0).toInt(), 0);
        QSignalSpy none(&s, &SelectDataDir::noMoreSets);
        s.set();
        QCOMPARE(none.count(), 1);

        s.setPattern("*");
        s.setDataDir(tmp.path());
        QCOMPARE(s.entries(), QStringList({ "1 : S1 (7100[eV], 2)" }));
    }

    void emptyDirectoryGivesNoSets()
    {
        QTemporaryDir tmp;
        SelectDataDir s;
        s.setIsASRStandard(false);
        QSignalSpy sets(&s, &SelectDataDir::newSets);
        s.setDataDir(tmp.path());
        QCOMPARE(sets.last().at(0).toInt(), 0);
        QSignalSpy none(&s, &SelectDataDir::noMoreSets);
        s.set();
        QCOMPARE(none.count(), 1);
        QVERIFY(!s.advance());
        QCOMPARE(s.currentTag(), QString());
        QCOMPARE(s.currentEnergy(), 0.0);
    }

    void walkFromFirstToLastIndex()
    {
        QTemporaryDir tmp;
        QDir d(tmp.path());
        for (int i = 0; i < 10; ++i)
            QVERIFY(d.mkdir(QString("E%1").arg(i)));
        SelectDataDir s;
        s.setIsASRStandard(false);
        s.setDataDir(tmp.path());
        QCOMPARE(s.count(), 10);
        QStringList applied;
        int endings = 0;
        connect(&s, &SelectDataDir::selected,
            [&](const QString &dir, const QStringList &) { applied << QFileInfo(dir).fileName(); });
        connect(&s, &SelectDataDir::noMoreSets, [&] { ++endings; });
        s.setFirstSet(2);
        while (endings == 0 && applied.size() < 20)
            s.setNextSet(4);
        QCOMPARE(applied, QStringList({ "E2", "E3", "E4" }));
        QCOMPARE(endings, 1);
    }

    void walkStopsAtTheEndOfTheList()
    {
        QTemporaryDir tmp;
        for (const char *n : { "A-1eV-1.img", "A-2eV-1.img", "A-3eV-1.img" })
            touch(QDir(tmp.path()), n);
        SelectDataDir s;
        s.setDataDir(tmp.path());
        QSignalSpy files(&s, &SelectDataDir::selectedFileInfoList);
        QSignalSpy none(&s, &SelectDataDir::noMoreSets);
        s.setFirstSet(1);
        s.setNextSet(99);
        s.setNextSet(99);
        QCOMPARE(files.count(), 2);
        QCOMPARE(none.count(), 1);
        QCOMPARE(s.currentTag(), QString("3eV"));
    }

    void firstIndexBeyondTheList()
    {
        QTemporaryDir tmp;
        QDir(tmp.path()).mkdir("E1");
        QDir(tmp.path()).mkdir("E2");
        for (bool asr : { false, true }) {
            SelectDataDir s;
            s.setIsASRStandard(asr);
            if (asr)
                touch(QDir(tmp.path()), "A-1eV-1.img");
            s.setDataDir(tmp.path());
            QVERIFY(s.count() > 0);
            QSignalSpy none(&s, &SelectDataDir::noMoreSets);
            QSignalSpy sel(&s, &SelectDataDir::selected);
            QSignalSpy files(&s, &SelectDataDir::selectedFileInfoList);
            s.setFirstSet(5);
            QCOMPARE(none.count(), 1);
            QCOMPARE(sel.count() + files.count(), 0);
            QCOMPARE(s.currentTag(), QString());
        }
    }

    void nextStepsWithoutApplying()
    {
        QTemporaryDir tmp;
        QDir(tmp.path()).mkdir("a");
        QDir(tmp.path()).mkdir("b");
        SelectDataDir s;
        s.setIsASRStandard(false);
        s.setDataDir(tmp.path());
        QSignalSpy sel(&s, &SelectDataDir::selected);
        QSignalSpy none(&s, &SelectDataDir::noMoreSets);
        s.next();
        QCOMPARE(s.currentIndex(), 1);
        s.next();
        QCOMPARE(s.currentIndex(), 1);
        QCOMPARE(sel.count() + none.count(), 0);
    }

    // A switch of layout relists the chosen directory in the new layout.
    void switchingLayoutRelists()
    {
        QTemporaryDir tmp;
        QDir d(tmp.path());
        QVERIFY(d.mkdir("7100eV"));
        touch(d, "S-7200eV-1.img");
        SelectDataDir s;
        s.setDataDir(tmp.path());
        QCOMPARE(s.entries(), QStringList({ "1 : S (7200[eV], 1)" }));
        QSignalSpy sets(&s, &SelectDataDir::newSets);
        s.findChild<QCheckBox *>("isASRStd_")->click();
        QCOMPARE(sets.count(), 1);
        QCOMPARE(s.entries(), QStringList({ "1 : 7100eV" }));
        s.setIsASRStandard(true);
        QCOMPARE(s.entries(), QStringList({ "1 : S (7200[eV], 1)" }));
        s.setIsASRStandard(true); // no change, no new listing
        QCOMPARE(sets.count(), 2);
    }

    // Switching to the ASR layout on a directory without matching files keeps
    // the old sets; the list shown must then be those sets, not the
    // sub-directories, or Set would load a set other than the one shown.
    void switchToAsrWithoutMatchesListsTheKeptSets()
    {
        QTemporaryDir asrDir, subDir;
        touch(QDir(asrDir.path()), "S-7200eV-1.img");
        QVERIFY(QDir(subDir.path()).mkdir("E1"));
        QVERIFY(QDir(subDir.path()).mkdir("E2"));
        SelectDataDir s;
        s.setDataDir(asrDir.path());
        s.setIsASRStandard(false);
        s.setDataDir(subDir.path());
        QCOMPARE(s.count(), 2);
        s.setIsASRStandard(true);
        QCOMPARE(s.entries(), QStringList({ "1 : S (7200[eV], 1)" }));
        QSignalSpy files(&s, &SelectDataDir::selectedFileInfoList);
        s.set();
        QCOMPARE(
            names(files.at(0).at(0).value<QFileInfoList>()), QStringList({ "S-7200eV-1.img" }));
    }

    void noDirectoryChosenListsNothing()
    {
        SelectDataDir s;
        QSignalSpy sets(&s, &SelectDataDir::newSets);
        s.setIsASRStandard(false);
        QCOMPARE(sets.count(), 1);
        QCOMPARE(sets.at(0).at(0).toInt(), 0);
    }
};

VORLO_TEST(SelectDataDirTest)
#include "test_select_data_dir.moc"
