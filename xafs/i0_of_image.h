#pragma once
#include "xafs/xafs_scan_file.h"

#include <QFrame>
#include <QString>

#include <memory>

class SelectAFile;
namespace Ui {
class I0ofImage;
}

// The I0 that belongs to a set of images: a fixed value, or the I0 rate of an
// XAFS scan file at the energy that stands in the image file names. The
// panel's state is the contents of its fields, which batch commands set.
class I0ofImage : public QFrame {
    Q_OBJECT
public:
    explicit I0ofImage(QWidget *parent = nullptr);
    ~I0ofImage() override;

    void setTitle(const QString &title);

    double i0Val() const; // 0 when the field is not a number
    void setI0Val(double v);
    bool calcFromXafs() const;
    void setCalcFromXafs(bool on);
    QString engPattern() const;
    void setEngPattern(const QString &pattern);

    SelectAFile *xafsFileSelector() const;
    QString xafsFilePath() const;
    // As if the file had been picked in the selector's dialog.
    void selectXafsFile(const QString &path);
    void clearXafsFile();
    const XafsScanFile &scan() const { return scanFile; }

    // Monochromator lattice spacing [angstrom] used for the scan file; the
    // file is read again when it changes. Si(111) unless set.
    double latticeSpacing() const { return spacing; }
    void setLatticeSpacing(double d);

    // The energy [eV] that the pattern finds in a file name: '#' stands for a
    // digit, '_' for the decimal point, every other character for itself; the
    // first match counts. False when the name does not hold the pattern.
    static bool energyOfFileName(const QString &fileName, const QString &pattern, double &energy);

    // I0 for one image file: from the scan file when "Calc from XAFS file" is
    // on, the file was read and the name holds an energy; else the value.
    double i0ForImage(const QString &fileName) const;

private slots:
    void readScanFile(const QString &path);
    void dropScanFile();

private:
    std::unique_ptr<Ui::I0ofImage> ui;
    XafsScanFile scanFile;
    double spacing = 3.13551;
};
