#include "app/body.h"
#include "app/config_store.h"
#include "app/headless.h"
#include "util/data_root.h"
#include "util/trace_log.h"

#include <QApplication>
#include <QTranslator>

#include <memory>

int main(int argc, char **argv)
{
    ConfigStore &cs = ConfigStore::global();
    cs.parseCommandLine(argc, argv);
    Headless::choosePlatform(cs);

    auto app = std::make_unique<QApplication>(argc, argv);
    auto translator = std::make_unique<QTranslator>();

    // Before anything is logged: the routine trace only when asked for.
    if (cs.startFlags().verbose)
        setTraceLogging(true);
    cs.readFile(cs.configFileName());
    setDataRoot(cs.dataRootFor(dataRoot()));
    const StartFlags flags = cs.startFlags();

    if (!flags.noTranslation) {
        // A missing translation is not reported: the texts stay in English.
        (void)translator->load(":vorlo2_ja_JP", QCoreApplication::applicationDirPath());
        app->installTranslator(translator.get());
    }

    auto window = std::make_unique<Body>();
    QObject::connect(window.get(), &Body::finishing, app.get(), &QCoreApplication::quit);
    if (!flags.noWindow)
        window->show();
    if (flags.loadBatch)
        window->batchLoad(flags.batchFile);
    if (flags.execBatch)
        window->batchExec();
    auto headless = std::make_unique<Headless>(*window, flags);
    QObject::connect(headless.get(), &Headless::finished, app.get(), &QCoreApplication::exit);
    headless->start();

    const int rc = app->exec();
    headless.reset();
    window.reset();
    translator.reset();
    app.reset();
    return rc;
}
