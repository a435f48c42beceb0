#include "ct/data_saver.h"

#include "ct/float_tiff.h"
#include "ct/hdf5_volume.h"
#include "util/safe_file.h"
#include "util/tsan_handoff.h"

#include <QBuffer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

namespace {

QString joinFolder(const QString &path, const QString &sub)
{
    return QStringLiteral("%1%2%3").arg(path, QDir::separator(), sub);
}

bool writeDataFile(const QString &filePath, const QByteArray &data)
{
    return writeWholeFile(filePath, data);
}

bool writeImageFile(const QString &filePath, const QImage &img)
{
    // The format follows the file suffix (png), default quality. The picture
    // is made in memory so that the file is written, checked and renamed in
    // one piece.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    const QByteArray format = QFileInfo(filePath).suffix().toLatin1();
    if (img.isNull() || !buffer.open(QIODevice::WriteOnly)
        || !img.save(&buffer, format.isEmpty() ? "png" : format.constData())) {
        qDebug() << "Can't write file : " << filePath;
        return false;
    }
    buffer.close();
    return writeWholeFile(filePath, bytes);
}

} // namespace

DataSaver::DataSaver(QObject *parent)
    : QObject(parent)
{
}

DataSaver::~DataSaver() = default;

QStringList DataSaver::targetFolders(
    const QString &path, const QString &tag, const QString &slice) const
{
    if (!inSubFoldersFlag)
        return { path };
    QStringList folders;
    if (subOfEnergyFlag)
        folders << joinFolder(path, tag);
    if (subOfSliceFlag)
        folders << joinFolder(path, slice);
    return folders;
}

QStringList DataSaver::prepareFolders(const QString &path, const QString &tag, const QString &slice,
    const QString &fname, QString &failed) const
{
    // An empty base folder would put the sub folders at the file-system root
    // and plain files wherever the program happens to run: refuse it.
    if (path.isEmpty()) {
        qDebug() << "Can't write file : " << fname;
        failed = fname;
        return {};
    }
    const QStringList folders = targetFolders(path, tag, slice);
    // Sub folders without a kind chosen save nothing; say so rather than
    // dropping the result unnoticed.
    if (folders.isEmpty())
        qDebug() << "No sub folder kind chosen, not saved : " << fname;
    QStringList made;
    for (const QString &folder : folders) {
        if (QDir().mkpath(folder)) {
            made << folder;
        } else {
            qDebug() << "Can't make folder : " << folder;
            qDebug() << "Can't write file : " << QDir(folder).filePath(fname);
            if (failed.isEmpty())
                failed = QDir(folder).filePath(fname);
        }
    }
    return made;
}

void DataSaver::saveData(SavingData *data)
{
    if (!data)
        return;
    const QString fname = savingFileName(data->name, data->tag, data->slice, "dat");
    QString failed;
    const QStringList folders = prepareFolders(data->path, data->tag, data->slice, fname, failed);
    for (const QString &folder : folders) {
        const QString file = QFileInfo(QDir(folder), fname).absoluteFilePath();
        if (!writeDataFile(file, data->data) && failed.isEmpty())
            failed = file;
    }
    if (!failed.isEmpty())
        emit saveFailed(failed, data->slice);
}

void DataSaver::saveDataWDiscard(SavingData *data)
{
    handOffAcquire(data); // released by the sender before the queued signal
    saveData(data);
    delete data;
}

void DataSaver::saveImg(SavingImg *img)
{
    if (!img)
        return;
    const QString fname = savingFileName(img->name, img->tag, img->slice, "png");
    QString failed;
    const QStringList folders = prepareFolders(img->path, img->tag, img->slice, fname, failed);
    for (const QString &folder : folders) {
        const QString file = QFileInfo(QDir(folder), fname).absoluteFilePath();
        if (!writeImageFile(file, img->img) && failed.isEmpty())
            failed = file;
    }
    if (!failed.isEmpty())
        emit saveFailed(failed, img->slice);
}

void DataSaver::saveImgWDiscard(SavingImg *img)
{
    handOffAcquire(img);
    saveImg(img);
    delete img;
}

void DataSaver::saveTiff(SavingTiff *tiff)
{
    if (!tiff)
        return;
    const bool toVolume = volumeReceiving && tiff->nameSuffix.isEmpty();
    if (toVolume) {
        addToVolumes(*tiff);
        if (!volumeTiffFiles)
            return;
    }
    const QString fname
        = savingFileName(tiff->name, tiff->tag, tiff->slice + tiff->nameSuffix, "tif");
    if (tiff->values.size() != size_t(qMax(tiff->width, 0)) * size_t(qMax(tiff->height, 0))
        || tiff->values.empty()) {
        qDebug() << "Can't write file : " << fname << "(no values)";
        emit saveFailed(QDir(tiff->path).filePath(fname), tiff->slice);
        return;
    }
    QString failed;
    const QStringList folders = prepareFolders(tiff->path, tiff->tag, tiff->slice, fname, failed);
    if (!folders.isEmpty()) {
        // Encoded once, written to every folder.
        const QByteArray file = encodeFloatTiff(tiff->values.data(), tiff->width, tiff->height);
        for (const QString &folder : folders) {
            const QString target = QFileInfo(QDir(folder), fname).absoluteFilePath();
            if (file.isEmpty())
                qDebug() << "Can't write file : " << target;
            if ((file.isEmpty() || !writeWholeFile(target, file)) && failed.isEmpty())
                failed = target;
        }
    }
    if (!failed.isEmpty())
        emit saveFailed(failed, tiff->slice);
}

void DataSaver::saveTiffWDiscard(SavingTiff *tiff)
{
    handOffAcquire(tiff);
    saveTiff(tiff);
    delete tiff;
}

void DataSaver::beginHdf5Volume(const QString &path, const QString &name, const QString &tag,
    const QVector<int> &slices, bool tiffFiles)
{
    volumeReceiving = true;
    volumeTiffFiles = tiffFiles;
    const QString fname = QStringLiteral("%1-%2.h5").arg(name, tag);
    if (path.isEmpty()) {
        qDebug() << "Can't write file : " << fname;
        emit saveFailed(fname, QString());
        volumes.push_back(nullptr);
        return;
    }
    // One volume per run: a sub folder of the tag, never one per slice.
    const QString folder = inSubFoldersFlag && subOfEnergyFlag ? joinFolder(path, tag) : path;
    if (!QDir().mkpath(folder)) {
        qDebug() << "Can't make folder : " << folder;
        qDebug() << "Can't write file : " << QDir(folder).filePath(fname);
        emit saveFailed(QDir(folder).filePath(fname), QString());
        volumes.push_back(nullptr);
        return;
    }
    volumes.push_back(std::make_unique<Hdf5VolumeWriter>(
        QFileInfo(QDir(folder), fname).absoluteFilePath(), slices));
}

void DataSaver::addToVolumes(const SavingTiff &tiff)
{
    bool ok = false;
    const int slice = tiff.slice.toInt(&ok);
    if (volumes.empty() || !volumes.back())
        return; // refused at its begin (logged and counted then)
    {
        const auto &v = volumes.back();
        const bool square = tiff.width == tiff.height
            && tiff.values.size()
                == std::size_t(qMax(tiff.width, 0)) * std::size_t(qMax(tiff.width, 0));
        if (!ok || !square) {
            qDebug() << "HDF5 volume : slice" << tiff.slice
                     << "has no square grid, not saved :" << v->finalPath();
            emit saveFailed(v->finalPath(), tiff.slice);
        } else if (!v->addFrame(slice, tiff.values.data(), tiff.width)) {
            emit saveFailed(v->finalPath(), tiff.slice);
        }
    }
}

void DataSaver::endHdf5Volume(const QByteArray &recordText, const QMap<int, double> &centres)
{
    if (volumes.empty())
        return;
    std::unique_ptr<Hdf5VolumeWriter> v = std::move(volumes.front());
    volumes.erase(volumes.begin());
    if (volumes.empty())
        volumeTiffFiles = true;
    if (v && !v->finish(recordText, centres))
        emit saveFailed(v->finalPath(), QString());
}

void DataSaver::setSubFolders(bool inSubFolders, bool ofEnergy, bool ofSlice)
{
    inSubFoldersFlag = inSubFolders;
    subOfEnergyFlag = ofEnergy;
    subOfSliceFlag = ofSlice;
}

void DataSaver::setInSubFolders(bool f) { inSubFoldersFlag = f; }

void DataSaver::setSubOfEnergy(bool f) { subOfEnergyFlag = f; }

void DataSaver::setSubOfSlice(bool f) { subOfSliceFlag = f; }
