#include "xafs/xafs_scan_file.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>

#include <cmath>

namespace {
constexpr double hcEvAngstrom = 12398.424360387684;
constexpr double piTenDigits = 3.1415926535;

double toDoubleOr0(const QString &s)
{
    bool ok = false;
    const double v = s.toDouble(&ok);
    return ok ? v : 0.0;
}
} // namespace

double XafsScanFile::energyOfAngle(double thetaDeg, double d)
{
    return hcEvAngstrom / (2.0 * std::sin(thetaDeg / 180.0 * piTenDigits) * d);
}

double XafsScanFile::interpolateLinear(double x, double x0, double x1, double y0, double y1)
{
    if (x1 == x0)
        return (y0 + y1) / 2.0;
    return y0 + (x - x0) * (y1 - y0) / (x1 - x0);
}

bool XafsScanFile::read(const QString &path, double spacing)
{
    latticeSpacing = spacing;
    energies.clear();
    i0Rates.clear();
    valid = false;

    // Regular files only: a named pipe would block the open until some
    // program writes to it, and a device such as /dev/zero reports size 0
    // but never ends.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        qDebug() << "XAFS scan file is not a regular file, refused : " << path;
        return false;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Can't open : " << path;
        return false;
    }
    // Read one byte beyond the bound so that a file growing while we read is
    // refused too, without ever holding more than the bound in memory.
    const QByteArray content = f.read(maxFileSize + 1);
    if (f.size() > maxFileSize || content.size() > maxFileSize) {
        qDebug() << "XAFS scan file too large, refused : " << path
                 << qMax(f.size(), qint64(content.size()));
        return false;
    }

    QTextStream in(content);
    int i0Col = -1;
    bool inHeader = true;
    bool sawOffset = false;
    int skipped = 0;
    int shortLines = 0;
    QString line;
    while (in.readLineInto(&line)) {
        const QStringList items = line.simplified().split(QLatin1Char(' '));
        if (inHeader) {
            if (items.first() == QLatin1String("Mode")) {
                i0Col = -1;
                for (int k = 1; k < items.size(); ++k) {
                    bool ok = false;
                    if (items[k].toInt(&ok, 10) == 1 && ok)
                        i0Col = k;
                }
            } else if (items.first() == QLatin1String("Offset")) {
                inHeader = false;
                sawOffset = true;
            }
            continue;
        }
        if (i0Col <= 2)
            continue;
        if (items.size() <= i0Col) {
            // A cut last line, typically; blank lines are not worth a word.
            if (!items.first().isEmpty())
                ++shortLines;
            continue;
        }
        const double theta = toDoubleOr0(items[1]);
        const double t = toDoubleOr0(items[2]);
        const double n = toDoubleOr0(items[i0Col]);
        const double e = energyOfAngle(theta, spacing);
        const double rate = n / t;
        // A zero angle or counting time (a damaged or cut line) would put an
        // infinite energy or rate into the interpolation table.
        if (!std::isfinite(e) || !std::isfinite(rate)) {
            ++skipped;
            continue;
        }
        energies.append(e);
        i0Rates.append(rate);
    }

    if (skipped > 0)
        qDebug() << "XAFS scan file: data lines without usable angle or time skipped :" << skipped
                 << path;
    if (shortLines > 0)
        qDebug() << "XAFS scan file: data lines without the I0 column skipped :" << shortLines
                 << path;
    if (i0Col <= 2)
        qDebug() << "XAFS scan file without a Mode line naming the I0 column : " << path;
    else if (!sawOffset)
        qDebug() << "XAFS scan file ends before its Offset line : " << path;

    valid = energies.size() > 1;
    if (!valid) {
        if (i0Col > 2 && sawOffset)
            qDebug() << "XAFS scan file with fewer than two data points : " << path;
        energies.clear();
        i0Rates.clear();
    }
    return valid;
}

double XafsScanFile::i0At(double x) const
{
    const int n = int(energies.size());
    if (n == 0)
        return 1.0;
    if (n == 1)
        return i0Rates[0];
    int seg = n - 2;
    for (int i = 0; i + 1 < n; ++i) {
        if (energies[i + 1] > x) {
            seg = i;
            break;
        }
    }
    return interpolateLinear(x, energies[seg], energies[seg + 1], i0Rates[seg], i0Rates[seg + 1]);
}
