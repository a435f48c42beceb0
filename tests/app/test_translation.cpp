#include "app/body.h"
#include "ct/proc_ctrl.h"
#include "ct/sinogram.h"
#include "display/pop_dock_base.h"
#include "select/select_data_dir.h"
#include "select/select_data_files.h"
#include "tests/test_registry.h"
#include "xafs/i0_of_image.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

#include <memory>

// The Japanese translation is compiled into the executable only, so the test
// compiles the translation source of this checkout itself with Qt's lrelease and
// installs the result the way the start-up code does.

namespace {

struct TsMessage {
    QString context;
    QString source;
    QString translation;
    QString type; // "unfinished", "vanished", "obsolete" or empty
};

QString sourceRoot()
{
    return QDir::cleanPath(QStringLiteral(VORLO_SOURCE_DIR));
}

QString tsPath() { return sourceRoot() + QStringLiteral("/resources/vorlo2_ja_JP.ts"); }

QString qtTool(const QString &name)
{
    return QLibraryInfo::path(QLibraryInfo::BinariesPath) + QLatin1Char('/') + name;
}

bool readTs(const QString &path, QVector<TsMessage> &out, QString &error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("can't open ") + path;
        return false;
    }
    QXmlStreamReader xml(&f);
    QString context;
    TsMessage msg;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        const auto name = xml.name();
        if (name == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (name == QLatin1String("message")) {
            msg = TsMessage { context, {}, {}, {} };
        } else if (name == QLatin1String("source")) {
            msg.source = xml.readElementText();
        } else if (name == QLatin1String("translation")) {
            msg.type = xml.attributes().value(QLatin1String("type")).toString();
            msg.translation = xml.readElementText();
            out.append(msg);
        }
    }
    if (xml.hasError()) {
        error = path + QStringLiteral(": ") + xml.errorString();
        return false;
    }
    return true;
}

QString describe(const TsMessage &m)
{
    return m.context + QStringLiteral(" \"") + m.source + QStringLiteral("\"");
}

// Installs a translator for the lifetime of the object, so a failing check
// cannot leave the other test classes of the program reading Japanese.
class InstalledTranslator {
public:
    explicit InstalledTranslator(QTranslator *t)
        : t_(t)
    {
        QCoreApplication::installTranslator(t_);
    }
    ~InstalledTranslator() { QCoreApplication::removeTranslator(t_); }
    InstalledTranslator(const InstalledTranslator &) = delete;
    InstalledTranslator &operator=(const InstalledTranslator &) = delete;

private:
    QTranslator *t_;
};

std::unique_ptr<QWidget> makePanel(const QString &kind)
{
    if (kind == QLatin1String("ProcCtrl"))
        return std::make_unique<ProcCtrl>();
    if (kind == QLatin1String("SelectDataFiles"))
        return std::make_unique<SelectDataFiles>();
    if (kind == QLatin1String("SelectDataDir"))
        return std::make_unique<SelectDataDir>();
    if (kind == QLatin1String("PopDockBase"))
        return std::make_unique<PopDockBase>();
    if (kind == QLatin1String("I0ofImage"))
        return std::make_unique<I0ofImage>();
    if (kind == QLatin1String("Sinogram"))
        return std::make_unique<Sinogram>();
    return nullptr;
}

// The visible text of a named child: a button's, a label's or a line edit's text; the panel's
// window title for an empty name.
QString textOf(QWidget *panel, const QString &objectName)
{
    if (objectName.isEmpty())
        return panel->windowTitle();
    if (auto *b = panel->findChild<QAbstractButton *>(objectName))
        return b->text();
    if (auto *l = panel->findChild<QLabel *>(objectName))
        return l->text();
    if (auto *e = panel->findChild<QLineEdit *>(objectName))
        return e->text();
    return QStringLiteral("<no child %1>").arg(objectName);
}

} // namespace

class TestTranslation : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void everyMessageTranslated();
    void translationsKeepPlaceholdersPatternsAndBlanks();
    void everyTextOfTheTreeIsInTheFile();
    void panelLabels_data();
    void panelLabels();
    void mainWindowLabels();

private:
    QTemporaryDir tmp;
    QString qmFile;
    QVector<TsMessage> messages;
};

void TestTranslation::initTestCase()
{
    QVERIFY(tmp.isValid());
    QString error;
    QVERIFY2(readTs(tsPath(), messages, error), qPrintable(error));
    QVERIFY(!messages.isEmpty());

    const QString lrelease = qtTool(QStringLiteral("lrelease"));
    QVERIFY2(QFileInfo::exists(lrelease), qPrintable(lrelease));
    qmFile = tmp.filePath(QStringLiteral("vorlo2_ja_JP.qm"));
    QProcess p;
    p.start(lrelease, { QStringLiteral("-silent"), tsPath(), QStringLiteral("-qm"), qmFile });
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0,
        p.readAllStandardError().constData());
    QVERIFY(QFileInfo(qmFile).size() > 0);
}

void TestTranslation::everyMessageTranslated()
{
    QStringList bad;
    for (const TsMessage &m : messages) {
        if (!m.type.isEmpty())
            bad << describe(m) + QStringLiteral(" is ") + m.type;
        else if (m.translation.isEmpty() && !m.source.isEmpty())
            bad << describe(m) + QStringLiteral(" has an empty translation");
    }
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join(QLatin1Char('\n'))));
}

void TestTranslation::translationsKeepPlaceholdersPatternsAndBlanks()
{
    // Argument markers are filled in by the code, file patterns in parentheses
    // drive the file dialogs' filters, texts without letters are numbers or
    // markers in line edits, and leading or trailing blanks align labels.
    static const QRegularExpression arg(QStringLiteral("%\\d+"));
    static const QRegularExpression pattern(QStringLiteral("\\(\\*[^)]*\\)"));
    static const QRegularExpression letter(QStringLiteral("[A-Za-z]"));
    QStringList bad;
    for (const TsMessage &m : messages) {
        auto all = [](const QRegularExpression &re, const QString &s) {
            QStringList found;
            for (auto it = re.globalMatch(s); it.hasNext();)
                found << it.next().captured();
            found.sort();
            return found;
        };
        if (all(arg, m.source) != all(arg, m.translation))
            bad << describe(m) + QStringLiteral(": argument markers differ");
        for (const QString &p : all(pattern, m.source))
            if (!m.translation.contains(p))
                bad << describe(m) + QStringLiteral(": file pattern ") + p
                        + QStringLiteral(" lost");
        if (!m.source.contains(letter) && m.translation != m.source)
            bad << describe(m) + QStringLiteral(": a text without words must stay as it is");
        auto lead = [](const QString &s) {
            int n = 0;
            while (n < s.size() && s.at(n) == QLatin1Char(' '))
                ++n;
            return n;
        };
        auto trail = [](const QString &s) {
            int n = 0;
            while (n < s.size() && s.at(s.size() - 1 - n) == QLatin1Char(' '))
                ++n;
            return n;
        };
        if (lead(m.source) != lead(m.translation) || trail(m.source) != trail(m.translation))
            bad << describe(m) + QStringLiteral(": leading or trailing blanks differ");
    }
    QVERIFY2(bad.isEmpty(), qPrintable(bad.join(QLatin1Char('\n'))));
}

void TestTranslation::everyTextOfTheTreeIsInTheFile()
{
    // A label added to a form, or a new tr() call, without a Japanese text
    // would stay English in a Japanese window.
    const QString lupdate = qtTool(QStringLiteral("lupdate"));
    QVERIFY2(QFileInfo::exists(lupdate), qPrintable(lupdate));
    const QString scratch = tmp.filePath(QStringLiteral("tree.ts"));
    QStringList args;
    for (const char *folder : { "app", "display", "ct", "select", "xafs", "image", "util" })
        if (QFileInfo::exists(sourceRoot() + QLatin1Char('/') + QLatin1String(folder)))
            args << sourceRoot() + QLatin1Char('/') + QLatin1String(folder);
    args << QStringLiteral("-silent") << QStringLiteral("-locations") << QStringLiteral("none")
         << QStringLiteral("-ts") << scratch;
    QProcess p;
    p.start(lupdate, args);
    QVERIFY(p.waitForFinished(120000));
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0,
        p.readAllStandardError().constData());

    QVector<TsMessage> tree;
    QString error;
    QVERIFY2(readTs(scratch, tree, error), qPrintable(error));
    QVERIFY(!tree.isEmpty());

    QSet<QString> translated;
    for (const TsMessage &m : messages)
        if (m.type.isEmpty())
            translated.insert(m.context + QChar(0) + m.source);
    QStringList missing;
    for (const TsMessage &m : tree)
        if (!translated.contains(m.context + QChar(0) + m.source))
            missing << describe(m);
    QVERIFY2(missing.isEmpty(),
        qPrintable(QStringLiteral("not translated:\n") + missing.join(QLatin1Char('\n'))));
}

void TestTranslation::panelLabels_data()
{
    QTest::addColumn<QString>("panel");
    QTest::addColumn<QString>("child");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("japanese");

    QTest::newRow("proc title") << "ProcCtrl"
                                << ""
                                << "Proc Control"
                                << "処理設定";
    QTest::newRow("proc slice label") << "ProcCtrl"
                                      << "label_4"
                                      << "Slice : "
                                      << "スライス : ";
    QTest::newRow("proc auto exec") << "ProcCtrl"
                                    << "AutoExecCtCalc"
                                    << "Auto Exec"
                                    << "自動実行";
    QTest::newRow("proc threads") << "ProcCtrl"
                                  << "label_9"
                                  << "Threads"
                                  << "スレッド数";
    // Values in fields are read back as numbers by the program and the setup
    // files: the same in either language.
    QTest::newRow("proc slice to value") << "ProcCtrl"
                                         << "SliceTo"
                                         << "2047"
                                         << "2047";
    // The energy pattern is matched against file names.
    QTest::newRow("i0 energy pattern") << "I0ofImage"
                                       << "EngPattern"
                                       << "####_####"
                                       << "####_####";
    QTest::newRow("i0 from xafs") << "I0ofImage"
                                  << "CalcFromXAFS"
                                  << "Calc from XAFS file"
                                  << "XAFSファイルから計算";
    QTest::newRow("files select") << "SelectDataFiles"
                                  << "Select"
                                  << "Data Select"
                                  << "データ選択";
    QTest::newRow("files keep") << "SelectDataFiles"
                                << "KeepConditions"
                                << "keep Conds."
                                << "条件保持";
    QTest::newRow("files multi") << "SelectDataFiles"
                                 << "LoadMultiTimes"
                                 << "Multi."
                                 << "複数回";
    QTest::newRow("dir asr") << "SelectDataDir"
                             << "isASRStd_"
                             << "ASR Std."
                             << "ASR標準";
    // Set in code after the form, through tr() of the data-directory panel.
    QTest::newRow("dir select") << "SelectDataDir"
                                << "Select"
                                << "Sel. Data Dir."
                                << "データディレクトリ選択";
    QTest::newRow("pop dock") << "PopDockBase"
                              << "PopDock"
                              << "Pop/Dock"
                              << "分離/格納";
    QTest::newRow("sinogram cor") << "Sinogram"
                                  << "label"
                                  << "CoR"
                                  << "回転中心";
    QTest::newRow("sinogram fourier") << "Sinogram"
                                      << "GenFouS"
                                      << "Gen Fou. Sinogram"
                                      << "フーリエサイノグラム生成";
}

void TestTranslation::panelLabels()
{
    QFETCH(QString, panel);
    QFETCH(QString, child);
    QFETCH(QString, english);
    QFETCH(QString, japanese);

    {
        // As with "-e": no translator, the built-in English texts.
        auto w = makePanel(panel);
        QVERIFY(w);
        QCOMPARE(textOf(w.get(), child), english);
    }
    QTranslator translator;
    QVERIFY(translator.load(qmFile));
    InstalledTranslator installed(&translator);
    auto w = makePanel(panel);
    QCOMPARE(textOf(w.get(), child), japanese);
}

void TestTranslation::mainWindowLabels()
{
    {
        Body english(2, nullptr);
        auto *tabs = english.findChild<QTabWidget *>(QStringLiteral("ImgsTab"));
        QVERIFY(tabs);
        QCOMPARE(tabs->tabText(0), QStringLiteral("Raw Image"));
        QCOMPARE(textOf(&english, QStringLiteral("CalcCT")), QStringLiteral("Calc"));
        QCOMPARE(textOf(&english, QStringLiteral("SaveInSubFolders")),
            QStringLiteral("Save in Sub Folders"));
    }
    QTranslator translator;
    QVERIFY(translator.load(qmFile));
    InstalledTranslator installed(&translator);
    Body japanese(2, nullptr);
    auto *tabs = japanese.findChild<QTabWidget *>(QStringLiteral("ImgsTab"));
    QVERIFY(tabs);
    QVERIFY(tabs->count() >= 7);
    QCOMPARE(tabs->tabText(0), QStringLiteral("生画像"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("サイノグラム"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("CT再構成画像"));
    // The tab of a parallel calculator keeps its number.
    QCOMPARE(tabs->tabText(6), QStringLiteral("CT2 2"));
    QCOMPARE(textOf(&japanese, QStringLiteral("CalcCT")), QStringLiteral("計算"));
    QCOMPARE(textOf(&japanese, QStringLiteral("SaveInSubFolders")),
        QStringLiteral("サブフォルダに保存"));
    QCOMPARE(textOf(&japanese, QStringLiteral("AutoSaveImage")), QStringLiteral("画像自動保存"));
    // The window title is the program's name in either language.
    QCOMPARE(japanese.windowTitle(), QStringLiteral("Vorlo2"));
}

VORLO_TEST(TestTranslation)
#include "test_translation.moc"
