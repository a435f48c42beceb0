// The configuration reader: key and value per line, comments, blank lines and
// "INCLUDE" of a second file (the input is split at its first 0xFF byte into
// "config.cfg" and "inc.cfg"; both may include each other or themselves).
#include "tests/fuzz/fuzz_support.h"

#include "app/config_store.h"
#include "util/text_util.h"

#include <QDir>
#include <cstring>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::init();
    // Relative include names resolve in the scratch folder.
    QDir::setCurrent(fuzz::scratchDir().path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t *cut = static_cast<const uint8_t *>(std::memchr(data, 0xFF, size));
    const size_t first = cut ? size_t(cut - data) : size;
    fuzz::writeInput(data, first, "config.cfg");
    fuzz::writeInput(cut ? cut + 1 : data, cut ? size - first - 1 : 0, "inc.cfg");

    ConfigStore store;
    FUZZ_CHECK(store.readFile(QStringLiteral("config.cfg")));
    for (const QString &l : store.lines()) {
        FUZZ_CHECK(!isBlankLine(l));
        FUZZ_CHECK(removeComment(l) == l);
    }
    for (const ConfigStore::Entry &e : store.entries()) {
        FUZZ_CHECK(store.contains(e.key));
        FUZZ_CHECK(store.restNoCase(e.key.toLower()) == store.restNoCase(e.key.toUpper()));
    }
    store.configFileName();
    store.dataRootFor(QStringLiteral("/data"));
    store.startFlags();
    // Reading again must not be refused as an include cycle.
    FUZZ_CHECK(store.readFile(QStringLiteral("config.cfg")));
    return 0;
}
