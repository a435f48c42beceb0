#include "app/config_store.h"
#include "util/data_root.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QLabel>
#include <QTranslator>

#include <memory>

namespace {

// Stands in for the main window until it exists: the window titled "Vorlo2"
// showing what start-up settled on.
std::unique_ptr<QFrame> buildWindow(const ConfigStore &cs, const StartFlags &flags)
{
    auto frame = std::make_unique<QFrame>();
    frame->setWindowTitle("Vorlo2");
    auto *form = new QFormLayout(frame.get());
    const QString cfg = cs.fileName().isEmpty() ? QCoreApplication::translate("main", "(none)")
                                                : QFileInfo(cs.fileName()).absoluteFilePath();
    form->addRow(QCoreApplication::translate("main", "Configuration file"), new QLabel(cfg));
    form->addRow(QCoreApplication::translate("main", "Data root"), new QLabel(dataRoot()));
    if (flags.loadBatch)
        form->addRow(
            QCoreApplication::translate("main", "Batch file"), new QLabel(flags.batchFile));
    frame->resize(480, 120);
    return frame;
}

} // namespace

int main(int argc, char **argv)
{
    ConfigStore &cs = ConfigStore::global();
    cs.parseCommandLine(argc, argv);

    auto app = std::make_unique<QApplication>(argc, argv);
    auto translator = std::make_unique<QTranslator>();

    cs.readFile(cs.configFileName());
    setDataRoot(cs.dataRootFor(dataRoot()));
    const StartFlags flags = cs.startFlags();

    if (!flags.noTranslation) {
        // A missing translation is not reported: the texts stay in English.
        (void)translator->load(":vorlo2_ja_JP", QCoreApplication::applicationDirPath());
        app->installTranslator(translator.get());
    }

    std::unique_ptr<QFrame> window = buildWindow(cs, flags);
    if (!flags.noWindow)
        window->show();
    if (flags.loadBatch)
        qDebug().noquote() << QString("Batch file \"%1\" waits for the main window%2")
                                  .arg(flags.batchFile, flags.execBatch ? " (run requested)" : "");

    const int rc = app->exec();
    window.reset();
    translator.reset();
    app.reset();
    return rc;
}
