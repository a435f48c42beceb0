#include "tools/phantom_scan.h"

#include "tools/phantom_itex.h"

#include <QDebug>
#include <QDir>
#include <algorithm>
#include <cmath>
#include <random>

namespace {

// Sizes the tool accepts: enough for a real detector, small enough that a
// typing error cannot ask for terabytes.
constexpr int maxSide = 8192;
constexpr int maxProjections = 7200;
constexpr int maxEnergies = 200;
constexpr double maxTotalBytes = 64.0 * 1024 * 1024 * 1024;

QString num(double v) { return QString::number(v, 'g', 10); }

double pixelTop(int bytesPerPixel) { return bytesPerPixel == 2 ? 65535.0 : 4294967295.0; }

} // namespace

PhantomScan::PhantomScan(const ScanSettings &settings)
    : s(settings)
{
    cor_ = s.cor < 0 ? 0.5 * s.width : s.cor;
    radius_ = std::max(1.0, std::min(cor_, s.width - 1 - cor_));
    phantom_ = Phantom::standard(radius_, s.height, s.bodyMu);
}

QString PhantomScan::check(const ScanSettings &s)
{
    if (s.width < 16 || s.width > maxSide)
        return QStringLiteral("width must be 16 ... %1 pixels").arg(maxSide);
    if (s.height < 1 || s.height > maxSide)
        return QStringLiteral("height must be 1 ... %1 pixels").arg(maxSide);
    if (s.projections < 2 || s.projections > maxProjections)
        return QStringLiteral("projections must be 2 ... %1").arg(maxProjections);
    if (s.bytesPerPixel != 2 && s.bytesPerPixel != 4)
        return QStringLiteral("bytes per pixel must be 2 or 4");
    const double cor = s.cor < 0 ? 0.5 * s.width : s.cor;
    // The sinogram needs floor(cor) >= 1 and ceil(cor) <= width - 1; a field
    // of view of fewer than 8 pixels has no room for the phantom.
    if (!std::isfinite(cor) || std::min(cor, s.width - 1 - cor) < 8)
        return QStringLiteral("centre of rotation must lie 8 pixels or more inside the detector");
    if (!std::isfinite(s.bodyMu) || s.bodyMu < 0 || s.bodyMu > 10)
        return QStringLiteral("attenuation per pixel must be 0 ... 10");
    if (!std::isfinite(s.bgCounts) || s.bgCounts < 0)
        return QStringLiteral("background counts must not be negative");
    if (!std::isfinite(s.i0Counts) || s.i0Counts < 1)
        return QStringLiteral("flat-field counts must be 1 or more");
    // The brightest flat-field pixel of any energy must fit the pixel width.
    if (1.1 * s.bgCounts + 1.5 * s.i0Counts > pixelTop(s.bytesPerPixel))
        return QStringLiteral("flat-field counts exceed the range of %1-byte pixels")
            .arg(s.bytesPerPixel);
    const double bytes = double(s.width) * s.height * s.bytesPerPixel * (s.projections + 2.0);
    if (bytes > maxTotalBytes)
        return QStringLiteral("the scan would take more than 64 GiB");
    return QString();
}

QString PhantomScan::check(const ScanSettings &s, const XafsSettings &x)
{
    const QString scan = check(s);
    if (!scan.isEmpty())
        return scan;
    if (x.energies.isEmpty() || x.energies.size() > maxEnergies)
        return QStringLiteral("give 1 ... %1 energies").arg(maxEnergies);
    for (const double e : x.energies)
        if (!std::isfinite(e) || e < 100 || e > 1e6)
            return QStringLiteral("energies must be 100 ... 1000000 eV");
    const QStringList tokens = energyTokens(x.energies, x.keV);
    for (int i = 0; i < tokens.size(); ++i)
        if (tokens.indexOf(tokens.at(i), i + 1) > 0)
            return QStringLiteral("two energies give the same file name: %1").arg(tokens.at(i));
    if (!std::isfinite(x.edgeEV) || x.edgeEV < 100 || x.edgeEV > 1e6)
        return QStringLiteral("the edge energy must be 100 ... 1000000 eV");
    // The sample name is the part of a file name before the energy: a '-'
    // would move the energy, a separator would leave the directory.
    static const QString bad = QStringLiteral("-/\\:*?\"<>|% ");
    if (x.sample.isEmpty() || x.sample.size() > 100
        || std::any_of(x.sample.begin(), x.sample.end(),
            [](QChar c) { return bad.contains(c) || c.unicode() < 32; }))
        return QStringLiteral("the sample name must be 1 ... 100 characters without '-', blanks "
                              "or path characters");
    const double bytes = double(s.width) * s.height * s.bytesPerPixel
        * (double(s.projections) + 1.0) * x.energies.size();
    if (bytes > maxTotalBytes)
        return QStringLiteral("the measurement would take more than 64 GiB");
    return QString();
}

double PhantomScan::angle(int i) const { return i * M_PI / s.projections; }

std::vector<double> PhantomScan::flatField(double flux) const
{
    std::vector<double> bg = background();
    const double uc = 0.5 * (s.width - 1);
    const double vc = 0.5 * (s.height - 1);
    const double hu = 0.5 * s.width;
    const double hv = std::max(0.5 * s.height, 1.0);
    for (int row = 0; row < s.height; ++row) {
        const double rv = (row - vc) / hv;
        double *line = bg.data() + std::size_t(row) * s.width;
        for (int u = 0; u < s.width; ++u) {
            const double ru = (u - uc) / hu;
            line[u] += flux * s.i0Counts * (1.0 - 0.2 * ru * ru - 0.1 * rv * rv);
        }
    }
    return bg;
}

std::vector<double> PhantomScan::background() const
{
    std::vector<double> bg(std::size_t(s.width) * s.height);
    const double uc = 0.5 * (s.width - 1);
    const double hu = 0.5 * s.width;
    for (int row = 0; row < s.height; ++row)
        for (int u = 0; u < s.width; ++u)
            bg[std::size_t(row) * s.width + u] = s.bgCounts * (1.0 + 0.1 * (u - uc) / hu);
    return bg;
}

std::vector<double> PhantomScan::attenuation(const Phantom &p, int i) const
{
    std::vector<double> att(std::size_t(s.width) * s.height, 0.0);
    const double theta = angle(i);
    const double c = std::cos(theta);
    const double sn = std::sin(theta);
    const double vc = 0.5 * (s.height - 1);
    for (const Ellipsoid &e : p.components) {
        if (e.mu == 0.0)
            continue;
        // Only the rows the component reaches, and only the detector offsets
        // within its bounding circle around the projected centre.
        const double tc = e.cx * c - e.cz * sn;
        const double reach = std::max(e.ax, e.az);
        const int row0 = std::max(0, int(std::floor(vc + e.cy - e.ay)));
        const int row1 = std::min(s.height - 1, int(std::ceil(vc + e.cy + e.ay)));
        const int u0 = std::max(0, int(std::floor(cor_ + tc - reach)));
        const int u1 = std::min(s.width - 1, int(std::ceil(cor_ + tc + reach)));
        for (int row = row0; row <= row1; ++row) {
            const double y = row - vc;
            double *line = att.data() + std::size_t(row) * s.width;
            for (int u = u0; u <= u1; ++u)
                line[u] += e.mu * e.chord(u - cor_, y, c, sn);
        }
    }
    return att;
}

std::vector<double> PhantomScan::projection(
    const Phantom &p, int i, const std::vector<double> &i0, const std::vector<double> &bg) const
{
    std::vector<double> counts = attenuation(p, i);
    for (std::size_t k = 0; k < counts.size(); ++k)
        counts[k] = bg[k] + (i0[k] - bg[k]) * std::exp(-counts[k]);
    return counts;
}

std::vector<double> PhantomScan::detect(std::vector<double> expected, std::uint64_t index) const
{
    if (!s.noise) {
        for (double &v : expected)
            v = std::floor(v + 0.5);
        return expected;
    }
    // Each image draws from a generator of its own, so an image does not
    // depend on which images were written before it.
    std::seed_seq seq { std::uint32_t(s.seed), std::uint32_t(s.seed >> 32), std::uint32_t(index),
        std::uint32_t(index >> 32) };
    std::mt19937_64 gen(seq);
    for (double &v : expected) {
        if (v <= 0.0) {
            v = 0.0;
            continue;
        }
        std::poisson_distribution<long long> draw(v);
        v = double(draw(gen));
    }
    return expected;
}

bool PhantomScan::writeImage(const QString &path, const std::vector<double> &counts,
    const QStringList &entries, QStringList *written) const
{
    QStringList all = entries;
    all << QStringLiteral("Source=vorlo2-phantom");
    if (!writeItexImage(path, s.width, s.height, s.bytesPerPixel, counts, all))
        return false;
    if (written)
        *written << path;
    return true;
}

bool PhantomScan::writeProjections(const Phantom &p, const std::vector<double> &i0,
    const std::vector<double> &bg, const QString &prefix, std::uint64_t firstIndex,
    const QStringList &entries, QStringList *written) const
{
    for (int i = 0; i < s.projections; ++i) {
        const QString path = prefix + QStringLiteral("%1.img").arg(i, 5, 10, QLatin1Char('0'));
        QStringList e = entries;
        e << QStringLiteral("Projection=%1").arg(i)
          << QStringLiteral("AngleDeg=%1").arg(num(180.0 * i / s.projections));
        if (!writeImage(path, detect(projection(p, i, i0, bg), firstIndex + i), e, written))
            return false;
    }
    return true;
}

bool PhantomScan::writeScan(const QString &dir, QStringList *written) const
{
    const QString problem = check(s);
    if (!problem.isEmpty()) {
        qDebug() << "Refused scan settings :" << qPrintable(problem);
        return false;
    }
    if (!QDir().mkpath(dir)) {
        qDebug() << "Can not make the scan directory :" << dir;
        return false;
    }
    const QDir d(dir);
    const std::vector<double> i0Exp = flatField();
    const std::vector<double> bgExp = background();
    const std::vector<double> i0 = detect(i0Exp, 0);
    const std::vector<double> bg = detect(bgExp, 1);
    // Noise-free projections come from the I0 and BG images as written, so
    // that the attenuation read back is exact up to rounding; noisy ones from
    // the expected beam, as on a real detector.
    const std::vector<double> &i0Base = s.noise ? i0Exp : i0;
    const std::vector<double> &bgBase = s.noise ? bgExp : bg;
    return writeImage(
               d.filePath(QStringLiteral("I0.img")), i0, { QStringLiteral("Kind=I0") }, written)
        && writeImage(
            d.filePath(QStringLiteral("BG.img")), bg, { QStringLiteral("Kind=BG") }, written)
        && writeProjections(phantom_, i0Base, bgBase, d.filePath(QStringLiteral("proj_")), 2,
            { QStringLiteral("Kind=projection") }, written);
}

QStringList PhantomScan::energyTokens(const QVector<double> &energiesEV, bool keV)
{
    // The fewest decimals (at most 3 in eV, 6 in keV) that show every energy.
    const int most = keV ? 6 : 3;
    int decimals = 0;
    int intWidth = 1;
    for (const double eV : energiesEV) {
        const double v = keV ? eV / 1000.0 : eV;
        QString t = QString::number(v, 'f', most);
        while (t.endsWith(QLatin1Char('0')))
            t.chop(1);
        const int point = t.indexOf(QLatin1Char('.'));
        decimals = std::max(decimals, int(t.size()) - point - 1);
        intWidth = std::max(intWidth, point);
    }
    QStringList tokens;
    for (const double eV : energiesEV) {
        const double v = keV ? eV / 1000.0 : eV;
        QString t = QString::number(v, 'f', decimals);
        const int point = decimals > 0 ? t.indexOf(QLatin1Char('.')) : int(t.size());
        t = QString(intWidth - point, QLatin1Char('0')) + t;
        t.replace(QLatin1Char('.'), QLatin1Char('_'));
        tokens << t + (keV ? QStringLiteral("keV") : QStringLiteral("eV"));
    }
    return tokens;
}

double PhantomScan::fluxAt(double e, double edgeEV)
{
    return std::clamp(1.0 - 0.002 * (e - edgeEV), 0.5, 1.5);
}

bool PhantomScan::writeXafs(const XafsSettings &x, const QString &dir, QStringList *written) const
{
    const QString problem = check(s, x);
    if (!problem.isEmpty()) {
        qDebug() << "Refused measurement settings :" << qPrintable(problem);
        return false;
    }
    const QDir d(dir);
    if (!QDir().mkpath(dir) || !d.mkpath(QStringLiteral("I0")) || !d.mkpath(QStringLiteral("BG"))) {
        qDebug() << "Can not make the measurement directory :" << dir;
        return false;
    }
    const std::vector<double> bgExp = background();
    const std::vector<double> bg = detect(bgExp, 1);
    if (!writeImage(
            d.filePath(QStringLiteral("BG/BG.img")), bg, { QStringLiteral("Kind=BG") }, written))
        return false;
    const QStringList tokens = energyTokens(x.energies, x.keV);
    std::uint64_t index = 2;
    for (int n = 0; n < x.energies.size(); ++n) {
        const double e = x.energies.at(n);
        const QString &token = tokens.at(n);
        const QStringList entries { QStringLiteral("EnergyEV=%1").arg(num(e)) };
        const std::vector<double> i0Exp = flatField(fluxAt(e, x.edgeEV));
        const std::vector<double> i0 = detect(i0Exp, index++);
        if (!writeImage(d.filePath(QStringLiteral("I0/I0-%1-00000.img").arg(token)), i0,
                QStringList(entries) << QStringLiteral("Kind=I0"), written))
            return false;
        const QString prefix = d.filePath(x.sample + QLatin1Char('-') + token + QLatin1Char('-'));
        if (!writeProjections(phantom_.atEnergy(e, x.edgeEV), s.noise ? i0Exp : i0,
                s.noise ? bgExp : bg, prefix, index,
                QStringList(entries) << QStringLiteral("Kind=projection"), written))
            return false;
        index += std::uint64_t(s.projections);
    }
    return true;
}
