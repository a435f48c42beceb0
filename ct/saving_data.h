#pragma once
// Records handed from a calculator to the DataSaver. A record belongs to the
// writer from the moment it is emitted; the writer frees it after writing.
#include <QByteArray>
#include <QImage>
#include <QMetaType>
#include <QString>
#include <vector>

struct SavingData {
    QString path; // base folder
    QString name; // first part of the file name
    QString tag; // second part of the file name; sub folder "of Energy"
    QString slice; // slice number as "%05d"; sub folder "of Slice"
    QByteArray data; // complete text of the CT image data file
};

struct SavingImg {
    QString path;
    QString name;
    QString tag;
    QString slice;
    QImage img; // 8-bit grey cross-section, one byte per pixel (colour-bar level)
};

// A slice's reconstructed values for a float TIFF file over the whole
// width x height grid. The file is named like the other kinds, with
// nameSuffix after the slice label ("-cor512.30" for a centre search).
struct SavingTiff {
    QString path;
    QString name;
    QString tag;
    QString slice;
    std::vector<float> values; // values[y * width + x]
    int width = 0;
    int height = 0;
    QString nameSuffix;
};

Q_DECLARE_METATYPE(SavingData *)
Q_DECLARE_METATYPE(SavingImg *)
Q_DECLARE_METATYPE(SavingTiff *)

// Slice number as it appears in file and folder names: "%05d".
QString savingSliceLabel(int slice);

// File name "%1-%2-%3.%4": name, tag, slice label and extension ("dat", "png" or "tif").
QString savingFileName(
    const QString &name, const QString &tag, const QString &slice, const QString &ext);

// Reconstructed values and what the data file keeps of them. Values above
// upperLimit or below lowerLimit become 0; offset is added to every value.
struct CtImgDataLimits {
    double lowerLimit = -10.0;
    double upperLimit = 10.0;
    double offset = 10.0;
};

// Text of a CT image data file ("#VRLO-CTImg") for the region (x0, z0)-(x1, z1)
// of an n x n result grid stored row-major as result[z * n + x]. Pixel lines
// run z outer from trunc(z0) while z < z1, x inner from trunc(x0) while x < x1;
// pixels outside the grid are not written. Decimals are written like C's %g.
QByteArray makeCtImgData(const double *result, int n, double x0, double z0, double x1, double z1,
    const CtImgDataLimits &limits);
