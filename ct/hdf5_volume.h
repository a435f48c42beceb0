#pragma once
// The reconstructed volume of one range run as one HDF5 file:
//   /exchange/recon   float32 [slice][z][x], slices x N x N, one chunk per
//                     slice, in ascending slice order;
//   /exchange/slice   int32, the slice number of every frame;
//   /exchange/centre  float64, the centre of rotation each slice was given;
//   attribute "run_record" of /exchange: the text of the run record.
// The layout is that of DXchange reconstructions, so h5py, Fiji's HDF5
// plug-in and tomviz open the data set as a volume.
//
// The file is written under a temporary name "<file>.<random>.part" in the
// target folder while the run goes on and renamed over the final name only
// when finish() has written and closed everything; a failure removes the
// temporary file and leaves an earlier file of the final name alone.
//
// GUI-free; every library call holds the program-wide HDF5 lock. One writer
// is used by one thread (the saver's).
#include <QByteArray>
#include <QMap>
#include <QString>
#include <QVector>
#include <memory>

class Hdf5VolumeWriter {
public:
    // slices: the slices the run plans to compute, any order (kept sorted).
    Hdf5VolumeWriter(const QString &finalPath, QVector<int> slices);
    ~Hdf5VolumeWriter(); // abandons an unfinished file
    Hdf5VolumeWriter(const Hdf5VolumeWriter &) = delete;
    Hdf5VolumeWriter &operator=(const Hdf5VolumeWriter &) = delete;

    const QString &finalPath() const { return finalPath_; }
    // The grid side of the volume, 0 before the first frame.
    int gridSize() const { return n_; }
    bool failed() const { return failed_; }

    // Writes the n x n values of a slice ([z][x]) at its place. The first
    // frame creates the file with the grid size n. false, with one log line,
    // for a slice that is not planned, a grid of another size, or a failed
    // write (after which the writer is failed: later frames are refused and
    // finish() writes nothing).
    bool addFrame(int slice, const float *values, int n);
    // Drops the frames of slices never written (moving later frames down),
    // writes the slice numbers, the centres (NaN for a slice without one) and
    // the record text, closes and renames. false, with a log line, when any
    // step fails or no frame was written (no file then).
    bool finish(const QByteArray &recordText, const QMap<int, double> &centres);
    // Closes and removes the temporary file.
    void abandon();

private:
    struct Handles;
    bool create(int n);
    void fail(const QString &why);

    QString finalPath_;
    QByteArray partName;
    QVector<int> slices_; // ascending
    QVector<bool> written;
    int n_ = 0;
    bool failed_ = false;
    std::unique_ptr<Handles> h;
};

// The slices of a range from `from` to `to` inclusive in steps of |step|
// (0 counts as 1) towards `to`, ascending.
QVector<int> hdf5VolumeSlices(int from, int to, int step);
