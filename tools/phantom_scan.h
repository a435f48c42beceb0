#pragma once
// A synthetic CT scan of the ellipsoid phantom, as a detector would record it.
//
// Geometry: parallel beam, vertical rotation axis at detector column cor
// (fractions allowed), M projections over half a turn, projection i at angle
// i * pi / M. Detector pixel (u, row) sees the ray at offset t = u - cor in
// phantom row y = row - (height - 1) / 2.
//
// Counts: the flat field I0(u, row) = BG + flux * i0Counts * (1 - 0.2 ru^2 -
// 0.1 rv^2), ru and rv the distances from the detector centre divided by half
// the width and height (a gentle fall towards the edges); the background
// BG(u, row) = bgCounts * (1 + 0.1 (u - uc) / (width / 2)); a projection
// I = BG + (I0 - BG) * exp(-lineIntegral). Images hold whole counts: without
// noise every pixel is rounded to the nearest integer, the projections from the
// rounded I0 and BG images, so ln((I0 - BG) / (I - BG)) read back from the
// files differs from the line integral only by that rounding. With noise every
// pixel is drawn from a Poisson distribution around its expected count.
#include "tools/phantom.h"

#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <vector>

struct ScanSettings {
    int width = 256; // detector columns
    int height = 64; // detector rows
    int projections = 180; // over half a turn
    double cor = -1; // centre of rotation, detector pixels; negative: width / 2
    int bytesPerPixel = 2; // 2 or 4
    bool noise = false; // Poisson counting noise
    quint64 seed = 1; // of the noise
    double bodyMu = 0; // attenuation per pixel of the phantom's body; 0: 1 / field radius
    double i0Counts = 32000; // flat-field counts above the background at the detector centre
    double bgCounts = 200; // background (dark) counts
};

struct XafsSettings {
    QVector<double> energies { 7100, 7110, 7120 }; // eV, one data set each
    double edgeEV = 7112; // absorption edge of the phantom's "edge" component
    QString sample = QStringLiteral("Phantom"); // first part of every file name
    bool keV = false; // energies in file names in keV (7_1keV) instead of eV (7100eV)
};

class PhantomScan {
public:
    explicit PhantomScan(const ScanSettings &settings);

    // Checks every setting once, before anything is computed or written.
    // Empty when the scan can be made, else the reason.
    static QString check(const ScanSettings &s);
    static QString check(const ScanSettings &s, const XafsSettings &x);

    const ScanSettings &settings() const { return s; }
    double cor() const { return cor_; }
    // Distance from the axis to the nearer detector edge, pixels.
    double fieldRadius() const { return radius_; }
    const Phantom &phantom() const { return phantom_; }
    // Replaces the standard phantom (laid out for fieldRadius()) by another one.
    void setPhantom(const Phantom &p) { phantom_ = p; }
    double angle(int i) const;

    // Expected counts of the detector images, width * height values [row][u].
    // flux scales the beam (1 for a plain scan).
    std::vector<double> flatField(double flux = 1.0) const;
    std::vector<double> background() const;
    // Expected counts of projection i of phantom p under the given I0 and BG images.
    std::vector<double> projection(const Phantom &p, int i, const std::vector<double> &i0,
        const std::vector<double> &bg) const;
    // The attenuation of every pixel of projection i (the line integrals).
    std::vector<double> attenuation(const Phantom &p, int i) const;

    // dir/I0.img, dir/BG.img, dir/proj_00000.img ... (the directory is made when
    // missing). Appends every file written to `written`. False, with a log line,
    // when the settings fail check() (nothing is written) or a file cannot be written.
    bool writeScan(const QString &dir, QStringList *written) const;
    // The same scan (the same counts) as one HDF5 file in the DXchange layout:
    // /exchange/data [projection][row][u] (16 or 32-bit unsigned as
    // bytesPerPixel), /exchange/data_white the I0 image, /exchange/data_dark
    // the BG image (one frame each), /exchange/theta in degrees. One chunk
    // per frame, gzip-compressed when asked. False, with a log line, on failure.
    bool writeScanHdf5(const QString &file, bool gzip, QStringList *written) const;

    // A CT-XAFS measurement in the ASR-standard layout: per energy E the
    // projections dir/<sample>-<E>-00000.img ..., the flat field
    // dir/I0/I0-<E>-00000.img and one background dir/BG/BG.img, <E> as in
    // energyTokens. The beam's flux falls by 0.2 % per eV above the edge (and
    // rises below it), so each energy needs its own I0.
    bool writeXafs(const XafsSettings &x, const QString &dir, QStringList *written) const;

    // The energies as the file names of one measurement carry them: "7100eV",
    // "7112_5eV", in keV "7_1keV". All tokens share one number of decimals and
    // one width of the integer part (zero-padded), so that the name order of
    // the data sets is their energy order: 980 and 1000 eV become "0980eV"
    // and "1000eV", 7100 and 7112.5 eV "7100_0eV" and "7112_5eV".
    static QStringList energyTokens(const QVector<double> &energiesEV, bool keV);
    // The relative beam flux at energy e for the edge at edgeEV.
    static double fluxAt(double e, double edgeEV);

private:
    // Rounds (no noise) or draws (noise) the counts of image number `index`.
    std::vector<double> detect(std::vector<double> expected, std::uint64_t index) const;
    bool writeImage(const QString &path, const std::vector<double> &counts,
        const QStringList &entries, QStringList *written) const;
    // Writes every projection i of p as prefix + "%05d" of i + ".img".
    bool writeProjections(const Phantom &p, const std::vector<double> &i0,
        const std::vector<double> &bg, const QString &prefix, std::uint64_t firstIndex,
        const QStringList &entries, QStringList *written) const;

    ScanSettings s;
    double cor_;
    double radius_;
    Phantom phantom_;
};
