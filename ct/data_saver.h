#pragma once
// Writer of the automatically saved results of the parallel calculators. It
// lives in a thread of its own; its slots are reached by queued signals and
// run one at a time in arrival order.
//
// Every file is written whole or not at all (writeWholeFile): a file that
// cannot be written leaves an earlier file of its name as it was, is logged
// with "Can't write file : " and its path, and its record is announced once
// by saveFailed().
#include "ct/saving_data.h"

#include <QMap>
#include <QObject>
#include <QVector>
#include <memory>
#include <vector>

class Hdf5VolumeWriter;

class DataSaver : public QObject {
    Q_OBJECT
public:
    explicit DataSaver(QObject *parent = nullptr);
    ~DataSaver() override;

    bool inSubFolders() const { return inSubFoldersFlag; }
    bool subOfEnergy() const { return subOfEnergyFlag; }
    bool subOfSlice() const { return subOfSliceFlag; }

    // The folders a record's file goes into, joined with the native separator:
    // path itself, or with sub folders path/tag ("of Energy") and/or
    // path/slice ("of Slice"); empty with sub folders but neither kind chosen.
    QStringList targetFolders(const QString &path, const QString &tag, const QString &slice) const;

signals:
    // A record's file could not be written whole (logged with its path).
    void saveFailed(const QString &path, const QString &slice);

public slots:
    // The WDiscard variants save and then delete the record; the plain ones
    // leave it to the caller.
    void saveDataWDiscard(SavingData *data);
    void saveData(SavingData *data);
    void saveImg(SavingImg *img);
    void saveImgWDiscard(SavingImg *img);
    void saveTiff(SavingTiff *tiff);
    void saveTiffWDiscard(SavingTiff *tiff);

    // Sub-folder flags; queue the call when the writer runs in its thread.
    void setSubFolders(bool inSubFolders, bool ofEnergy, bool ofSlice);
    void setInSubFolders(bool f);
    void setSubOfEnergy(bool f);
    void setSubOfSlice(bool f);

    // A range run's HDF5 volume, "<name>-<tag>.h5" in the folder (or its
    // sub folder of the tag when sub folders "of Energy" are on): from this
    // begin to the next, the TIFF records of the run's slices (those without
    // a name suffix) go into it, and are written as TIFF files as well only
    // when tiffFiles is true. Each end closes the oldest volume still open,
    // so a run may begin before the record of the one before is written.
    void beginHdf5Volume(const QString &path, const QString &name, const QString &tag,
        const QVector<int> &slices, bool tiffFiles);
    // Writes the slice numbers, the centres and the run record's text and
    // gives the file its name; a failure is logged and announced by saveFailed().
    void endHdf5Volume(const QByteArray &recordText, const QMap<int, double> &centres);
    // The run's last record has been handed over: later TIFF records are
    // no longer the volume's.
    void endHdf5Intake() { volumeReceiving = false; }

private:
    // Makes the folders a record's file goes into (with missing parents) and
    // returns those that exist; none (logged, with the file name) when the
    // base folder is empty or sub folders of no kind are asked for. Sets
    // failed (when still empty) to the first file that cannot be written for
    // want of its folder.
    QStringList prepareFolders(const QString &path, const QString &tag, const QString &slice,
        const QString &fname, QString &failed) const;

    // Adds a TIFF record's slice to every open volume; false when it is not
    // a slice of the volumes' run.
    void addToVolumes(const SavingTiff &tiff);

    // Volumes of runs not ended yet, oldest first; only the last one (when
    // receiving) takes frames. A null entry: a run whose volume was refused.
    std::vector<std::unique_ptr<Hdf5VolumeWriter>> volumes;
    bool volumeReceiving = false;
    bool volumeTiffFiles = true;
    bool inSubFoldersFlag = false;
    bool subOfEnergyFlag = false;
    bool subOfSliceFlag = false;
};
