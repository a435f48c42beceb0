#include "ct/data_saver.h"

#include "ct/float_tiff.h"
#include "util/tsan_handoff.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

QString joinFolder(const QString &path, const QString &sub)
{
    return QStringLiteral("%1%2%3").arg(path, QDir::separator(), sub);
}

void writeDataFile(const QString &filePath, const QByteArray &data)
{
    QFile f(filePath);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug() << "Can't write file : " << filePath;
        return;
    }
    const qint64 written = f.write(data);
    const bool flushed = f.flush();
    f.close();
    if (written != data.size() || !flushed || f.error() != QFileDevice::NoError)
        qDebug() << "Can't write file : " << filePath;
}

void writeImageFile(const QString &filePath, const QImage &img)
{
    // The format follows the file suffix (png), default quality.
    if (img.isNull() || !img.save(filePath))
        qDebug() << "Can't write file : " << filePath;
}

} // namespace

DataSaver::DataSaver(QObject *parent)
    : QObject(parent)
{
}

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

QStringList DataSaver::prepareFolders(
    const QString &path, const QString &tag, const QString &slice, const QString &fname) const
{
    // An empty base folder would put the sub folders at the file-system root
    // and plain files wherever the program happens to run: refuse it.
    if (path.isEmpty()) {
        qDebug() << "Can't write file : " << fname;
        return {};
    }
    const QStringList folders = targetFolders(path, tag, slice);
    // Sub folders without a kind chosen save nothing; say so rather than
    // dropping the result unnoticed.
    if (folders.isEmpty())
        qDebug() << "No sub folder kind chosen, not saved : " << fname;
    for (const QString &folder : folders) {
        if (!QDir().mkpath(folder))
            qDebug() << "Can't make folder : " << folder;
    }
    return folders;
}

void DataSaver::saveData(SavingData *data)
{
    if (!data)
        return;
    const QString fname = savingFileName(data->name, data->tag, data->slice, "dat");
    const QStringList folders = prepareFolders(data->path, data->tag, data->slice, fname);
    for (const QString &folder : folders)
        writeDataFile(QFileInfo(QDir(folder), fname).absoluteFilePath(), data->data);
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
    const QStringList folders = prepareFolders(img->path, img->tag, img->slice, fname);
    for (const QString &folder : folders)
        writeImageFile(QFileInfo(QDir(folder), fname).absoluteFilePath(), img->img);
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
    const QString fname
        = savingFileName(tiff->name, tiff->tag, tiff->slice + tiff->nameSuffix, "tif");
    if (tiff->values.size() != size_t(qMax(tiff->width, 0)) * size_t(qMax(tiff->height, 0))
        || tiff->values.empty()) {
        qDebug() << "Can't write file : " << fname << "(no values)";
        return;
    }
    const QStringList folders = prepareFolders(tiff->path, tiff->tag, tiff->slice, fname);
    for (const QString &folder : folders)
        writeFloatTiff(QFileInfo(QDir(folder), fname).absoluteFilePath(), tiff->values.data(),
            tiff->width, tiff->height);
}

void DataSaver::saveTiffWDiscard(SavingTiff *tiff)
{
    handOffAcquire(tiff);
    saveTiff(tiff);
    delete tiff;
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
