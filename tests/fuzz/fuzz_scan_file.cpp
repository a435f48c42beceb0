// The XAFS scan-file reader: header lines up to "Offset", the "Mode" line
// naming the I0 column, then data lines of angle, counting time and counts.
// An accepted file gives a finite, interpolatable I0 table.
#include "tests/fuzz/fuzz_support.h"

#include "xafs/xafs_scan_file.h"

#include <cmath>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeInput(data, size, "scan.dat");
    XafsScanFile scan;
    const bool ok = scan.read(path, 3.13551);
    FUZZ_CHECK(ok == scan.valid);
    FUZZ_CHECK(scan.energies.size() == scan.i0Rates.size());
    if (!ok) {
        FUZZ_CHECK(scan.energies.isEmpty());
        FUZZ_CHECK(scan.i0At(7000.0) == 1.0);
        return 0;
    }
    FUZZ_CHECK(scan.energies.size() > 1);
    for (int i = 0; i < scan.energies.size(); ++i) {
        FUZZ_CHECK(std::isfinite(scan.energies[i]) && std::isfinite(scan.i0Rates[i]));
        const double at = scan.i0At(scan.energies[i]);
        FUZZ_CHECK(!std::isinf(at) || scan.energies.size() > 1);
    }
    scan.i0At(-1e300);
    scan.i0At(1e300);
    scan.i0At(std::nan(""));
    return 0;
}
