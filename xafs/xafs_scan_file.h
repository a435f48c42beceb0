#pragma once
#include <QList>
#include <QString>

// One XAFS scan file, read into photon energy [eV] and I0 rate [counts/s].
//
// Layout: header lines first; the line whose first item is "Mode" names one
// mode number per column (item k describes column k of a data line), the I0
// column being the last one with mode 1. The "Offset" line ends the header.
// Data lines: item 1 the monochromator angle theta [deg], item 2 the counting
// time [s], the I0 column the I0 counts.
class XafsScanFile {
public:
    // Monochromator crystal lattice spacing d [angstrom], given before reading.
    double latticeSpacing = 3.13551;
    bool valid = false;
    QList<double> energies; // eV, one per usable data line, in file order
    QList<double> i0Rates; // I0 counts / counting time, parallel to energies

    // Reads path with the given lattice spacing. On any failure both lists
    // are empty, valid is false, a log line names the cause and false is
    // returned.
    bool read(const QString &path, double latticeSpacing);

    // I0 rate at energy x [eV], linear along the segment that holds x; outside
    // the measured range along the first or the last segment. 1 with no
    // points, the single rate with one.
    double i0At(double x) const;

    // Bragg's law: E = hc / (2 d sin theta), hc in eV * angstrom.
    static double energyOfAngle(double thetaDeg, double latticeSpacing);
    static double interpolateLinear(double x, double x0, double x1, double y0, double y1);

    // Upper bound of a scan file we are willing to read; real scans are a few
    // hundred kB, so anything far larger is not a scan file.
    static constexpr qint64 maxFileSize = 64LL * 1024 * 1024;
};
