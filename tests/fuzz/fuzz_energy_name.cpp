// Energies read from file names of the ASR-standard layout,
// <sample>-<energy>-<number>.<suffix>, e.g. "Cu-8979_5eV-0001.img".
#include "tests/fuzz/fuzz_support.h"

#include "select/ct_file_set.h"

#include <cmath>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString token = fuzz::utf8(data, size);
    QString unit;
    const double e = energyOfName(token, &unit);
    FUZZ_CHECK(!std::isnan(e));
    FUZZ_CHECK(token.endsWith(unit));
    for (const QChar c : unit)
        FUZZ_CHECK(!(c >= QLatin1Char('0') && c <= QLatin1Char('9')));
    FUZZ_CHECK(energyOfName(token) == e);
    const double f = unitFactorOf(unit);
    FUZZ_CHECK(f == 1.0 || f == 1000.0);

    // The token as a file name: the set's parts are pieces of the name.
    QString name = token;
    name.remove(QLatin1Char('/'));
    if (name.isEmpty())
        return 0;
    const CtFileSet set { QFileInfo(QStringLiteral("/nonexistent/") + name) };
    FUZZ_CHECK(set.firstFileName == name);
    FUZZ_CHECK(name.startsWith(set.setKey) && set.setKey.startsWith(set.sampleName));
    FUZZ_CHECK(set.setKey.endsWith(set.energyText));
    FUZZ_CHECK(!std::isnan(set.energyInEV()));
    FUZZ_CHECK(set.files.size() == 1);
    CtFileSet again { QFileInfo(QStringLiteral("/nonexistent/") + name) };
    FUZZ_CHECK(again.addIfSameSet(QFileInfo(QStringLiteral("/elsewhere/") + name)));
    return 0;
}
