#include "tools/phantom_cli.h"

#include <QTextStream>
#include <cmath>

namespace {

bool toInt(const QString &text, int &v)
{
    bool ok = false;
    const int x = text.toInt(&ok, 10);
    if (ok)
        v = x;
    return ok;
}

bool toDouble(const QString &text, double &v)
{
    bool ok = false;
    const double x = text.toDouble(&ok); // locale-independent
    if (ok && std::isfinite(x))
        v = x;
    return ok && std::isfinite(x);
}

} // namespace

QString phantomHelpText()
{
    return QStringLiteral(
        "vorlo2-phantom: writes a synthetic CT scan of an ellipsoid phantom as ITEX files.\n"
        "\n"
        "  vorlo2-phantom scan --out DIR [options]\n"
        "      DIR/I0.img (flat field), DIR/BG.img (background), DIR/proj_00000.img ...\n"
        "  vorlo2-phantom xafs --out DIR [options] [--energies E1,E2,...] [--edge E]\n"
        "                      [--sample NAME] [--kev]\n"
        "      a CT-XAFS measurement directory in the ASR-standard naming:\n"
        "      DIR/NAME-7100eV-00000.img ... one data set per energy,\n"
        "      DIR/I0/I0-7100eV-00000.img (the flat field of each energy), DIR/BG/BG.img;\n"
        "      the energies share one number format (7100_0eV, 7112_5eV; 0980eV, 1000eV)\n"
        "      so that the data sets list in energy order\n"
        "\n"
        "Options:\n"
        "  --width N         detector columns, 16 ... 8192 (256)\n"
        "  --height N        detector rows, 1 ... 8192 (64)\n"
        "  --projections M   projections over half a turn, projection i at i * 180 / M deg (180)\n"
        "  --cor C           centre of rotation in detector pixels (width / 2)\n"
        "  --bpp 2|4         bytes per pixel (2)\n"
        "  --mu MU           attenuation per pixel of the phantom's body (1 / R, R the\n"
        "                    distance from the axis to the nearer detector edge)\n"
        "  --i0 COUNTS       flat-field counts above background at the centre (32000)\n"
        "  --bg COUNTS       background counts (200)\n"
        "  --noise           Poisson counting noise (off: every pixel is its rounded\n"
        "                    expected count, so attenuations read back are exact)\n"
        "  --seed N          seed of the noise (1)\n"
        "  --energies LIST   xafs: energies in eV, separated by commas (7100,7110,7120)\n"
        "  --edge E          xafs: absorption edge in eV of the \"edge\" component (7112)\n"
        "  --sample NAME     xafs: sample name, the first part of every file name (Phantom)\n"
        "  --kev             xafs: energies in the file names in keV (7_1keV)\n"
        "  --hdf5 FILE       scan: the same scan also as one HDF5 file in the DXchange\n"
        "                    layout (/exchange/data, data_white, data_dark, theta)\n"
        "  --gzip            scan: its frames gzip-compressed, one chunk per frame\n"
        "  --help            this text\n"
        "\n"
        "Geometry: vertical rotation axis, parallel beam; a slice is an image row.\n"
        "Counts: I = BG + (I0 - BG) * exp(-sum of mu * chord length through the ellipsoids),\n"
        "the chord lengths exact. The flat field falls gently from the detector centre\n"
        "(20 % at the side edges); in xafs the beam flux changes by 0.2 % per eV.\n"
        "\n"
        "Phantom (R as above, lengths across the slice in units of R, x to the right, z\n"
        "down in the reconstructed slice): body 0.8 x 0.7 of mu; dense insert at\n"
        "(+0.40, -0.25), 3 mu; void at (-0.35, +0.30), 0.5 mu; edge component at\n"
        "(-0.30, -0.35), 2 mu below the edge and 3.5 mu above it; a marker above the\n"
        "middle rows at (+0.10, +0.40). The body alone fills a disk of 0.2 R around the\n"
        "axis. Attenuations fall as (edge / E)^3 with the energy E in xafs.\n"
        "\n"
        "CT values: filtered back-projection of M projections gives about 2 * M * mu for\n"
        "the parallel calculators (CT2) and 2 * mu for the single-slice calculator (CT1).\n"
        "The ramp filter works without zero padding, so every value also carries a\n"
        "negative offset that grows with the attenuation of the whole slice: a small\n"
        "isolated disk (radius 0.1 R) reads within 2 % of 2 * M * mu, a disk of 0.4 R\n"
        "about 7 % below, and the bare body of the default phantom about 27 % below.\n"
        "Differences between neighbouring regions (an insert against the body around it)\n"
        "come out at 2 * M times the difference of mu within a few percent.\n"
        "\n"
        "Exit codes: 0 done, 1 a file could not be written, 2 bad options.\n");
}

QString parsePhantomArgs(const QStringList &args, PhantomCommand &cmd)
{
    cmd = PhantomCommand();
    if (args.isEmpty())
        return QStringLiteral("no command given: scan, xafs or --help");
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        cmd.kind = PhantomCommand::Help;
        return QString();
    }
    const QString command = args.first();
    if (command == QLatin1String("scan"))
        cmd.kind = PhantomCommand::Scan;
    else if (command == QLatin1String("xafs"))
        cmd.kind = PhantomCommand::Xafs;
    else
        return QStringLiteral("unknown command \"%1\": scan, xafs or --help").arg(command);
    const bool xafs = cmd.kind == PhantomCommand::Xafs;

    for (int k = 1; k < args.size(); ++k) {
        const QString opt = args.at(k);
        if (opt == QLatin1String("--noise")) {
            cmd.scan.noise = true;
            continue;
        }
        if (opt == QLatin1String("--gzip") && !xafs) {
            cmd.gzip = true;
            continue;
        }
        if (opt == QLatin1String("--hdf5") && !xafs) {
            if (k + 1 >= args.size() || args.at(k + 1).isEmpty())
                return QStringLiteral("--hdf5 needs a file name");
            cmd.hdf5File = args.at(++k);
            continue;
        }
        if (opt == QLatin1String("--kev") && xafs) {
            cmd.xafs.keV = true;
            continue;
        }
        static const QStringList withValue { "--out", "--width", "--height", "--projections",
            "--cor", "--bpp", "--mu", "--i0", "--bg", "--seed" };
        static const QStringList xafsWithValue { "--energies", "--edge", "--sample" };
        if (!withValue.contains(opt) && !(xafs && xafsWithValue.contains(opt)))
            return QStringLiteral("unknown option \"%1\"").arg(opt);
        if (k + 1 >= args.size())
            return QStringLiteral("%1 needs a value").arg(opt);
        const QString value = args.at(++k);
        const auto bad = [&]() { return QStringLiteral("bad value \"%1\" of %2").arg(value, opt); };
        bool ok = true;
        if (opt == QLatin1String("--out")) {
            ok = !value.isEmpty();
            cmd.outDir = value;
        } else if (opt == QLatin1String("--width")) {
            ok = toInt(value, cmd.scan.width);
        } else if (opt == QLatin1String("--height")) {
            ok = toInt(value, cmd.scan.height);
        } else if (opt == QLatin1String("--projections")) {
            ok = toInt(value, cmd.scan.projections);
        } else if (opt == QLatin1String("--cor")) {
            ok = toDouble(value, cmd.scan.cor) && cmd.scan.cor >= 0;
        } else if (opt == QLatin1String("--bpp")) {
            ok = toInt(value, cmd.scan.bytesPerPixel);
        } else if (opt == QLatin1String("--mu")) {
            ok = toDouble(value, cmd.scan.bodyMu) && cmd.scan.bodyMu > 0;
        } else if (opt == QLatin1String("--i0")) {
            ok = toDouble(value, cmd.scan.i0Counts);
        } else if (opt == QLatin1String("--bg")) {
            ok = toDouble(value, cmd.scan.bgCounts);
        } else if (opt == QLatin1String("--seed")) {
            cmd.scan.seed = value.toULongLong(&ok, 10);
        } else if (opt == QLatin1String("--energies")) {
            cmd.xafs.energies.clear();
            for (const QString &part : value.split(QLatin1Char(','))) {
                double e = 0;
                if (!toDouble(part.trimmed(), e))
                    return bad();
                cmd.xafs.energies << e;
            }
        } else if (opt == QLatin1String("--edge")) {
            ok = toDouble(value, cmd.xafs.edgeEV);
        } else if (opt == QLatin1String("--sample")) {
            cmd.xafs.sample = value;
        }
        if (!ok)
            return bad();
    }
    if (cmd.outDir.isEmpty())
        return QStringLiteral("--out DIR is required");
    return xafs ? PhantomScan::check(cmd.scan, cmd.xafs) : PhantomScan::check(cmd.scan);
}

int runPhantomTool(const QStringList &args, QTextStream &out, QTextStream &err)
{
    PhantomCommand cmd;
    const QString problem = parsePhantomArgs(args, cmd);
    if (!problem.isEmpty()) {
        err << "vorlo2-phantom: " << problem << "\n"
            << "Try vorlo2-phantom --help\n";
        err.flush();
        return 2;
    }
    if (cmd.kind == PhantomCommand::Help) {
        out << phantomHelpText();
        out.flush();
        return 0;
    }

    const PhantomScan scan(cmd.scan);
    QStringList written;
    bool ok = cmd.kind == PhantomCommand::Scan ? scan.writeScan(cmd.outDir, &written)
                                               : scan.writeXafs(cmd.xafs, cmd.outDir, &written);
    if (ok && !cmd.hdf5File.isEmpty())
        ok = scan.writeScanHdf5(cmd.hdf5File, cmd.gzip, &written);
    for (const QString &f : written)
        out << "wrote " << f << "\n";
    const ScanSettings &s = scan.settings();
    out << QStringLiteral("%1 x %2 pixels, %3 bytes per pixel, %4 projections over 180 deg, "
                          "centre of rotation %5, field radius %6\n")
               .arg(s.width)
               .arg(s.height)
               .arg(s.bytesPerPixel)
               .arg(s.projections)
               .arg(scan.cor())
               .arg(scan.fieldRadius());
    for (const Ellipsoid &e : scan.phantom().components)
        out << QStringLiteral("  %1: centre (%2, %3, %4), semi-axes (%5, %6, %7), mu %8%9\n")
                   .arg(e.name, -6)
                   .arg(e.cx, 0, 'g', 5)
                   .arg(e.cy, 0, 'g', 5)
                   .arg(e.cz, 0, 'g', 5)
                   .arg(e.ax, 0, 'g', 5)
                   .arg(e.ay, 0, 'g', 5)
                   .arg(e.az, 0, 'g', 5)
                   .arg(e.mu, 0, 'g', 5)
                   .arg(e.edgeJump != 0
                           ? QStringLiteral(", + %1 above the edge").arg(e.edgeJump, 0, 'g', 5)
                           : QString());
    if (cmd.kind == PhantomCommand::Xafs) {
        const QStringList tokens = PhantomScan::energyTokens(cmd.xafs.energies, cmd.xafs.keV);
        for (int i = 0; i < tokens.size(); ++i)
            out << QStringLiteral("  data set %1-%2: %3 eV, beam flux %4, edge at %5 eV\n")
                       .arg(cmd.xafs.sample, tokens.at(i))
                       .arg(cmd.xafs.energies.at(i), 0, 'g', 10)
                       .arg(
                           PhantomScan::fluxAt(cmd.xafs.energies.at(i), cmd.xafs.edgeEV), 0, 'g', 4)
                       .arg(cmd.xafs.edgeEV, 0, 'g', 10);
    }
    out.flush();
    if (!ok) {
        err << "vorlo2-phantom: could not write all files to " << cmd.outDir << "\n";
        err.flush();
        return 1;
    }
    return 0;
}
