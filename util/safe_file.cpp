#include "util/safe_file.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char partSuffix[] = ".part";

QString systemError(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// Creates a new file with a temporary name next to path; the descriptor, or
// -1 with errno set.
int createPartFile(const QString &path, QByteArray &partName)
{
    const QFileInfo fi(path);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString tag
            = QString::number(QRandomGenerator::global()->generate64() & 0xffffffffffull, 36);
        partName = QFile::encodeName(
            QStringLiteral("%1/%2.%3%4")
                .arg(fi.absolutePath(), fi.fileName(), tag, QLatin1String(partSuffix)));
        const int fd = ::open(partName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Writes every byte, resuming after interruptions and short writes.
bool writeAll(int fd, const char *p, qint64 n, int &err)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, size_t(std::min<qint64>(n, qint64(1) << 30)));
        if (w < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            return false;
        }
        if (w == 0) {
            err = ENOSPC;
            return false;
        }
        p += w;
        n -= w;
    }
    return true;
}

} // namespace

bool writeWholeFile(const QString &path, const QByteArray &data, QString *errorString)
{
    QString why;
    QByteArray partName;
    bool ok = false;
    const int fd = path.isEmpty() ? -1 : createPartFile(path, partName);
    if (path.isEmpty()) {
        why = QStringLiteral("no file name");
    } else if (fd < 0) {
        why = systemError(errno);
    } else {
        int err = 0;
        struct stat st;
        if (!writeAll(fd, data.constData(), data.size(), err)) {
            why = systemError(err);
        } else if (::fsync(fd) != 0) {
            why = systemError(errno);
        } else if (::fstat(fd, &st) != 0) {
            why = systemError(errno);
        } else if (qint64(st.st_size) != qint64(data.size())) {
            // A file system that accepted the writes but kept fewer bytes.
            why = QStringLiteral("%1 of %2 bytes written").arg(qint64(st.st_size)).arg(data.size());
        } else {
            ok = true;
        }
        if (::close(fd) != 0 && ok) {
            why = systemError(errno);
            ok = false;
        }
        if (ok && std::rename(partName.constData(), QFile::encodeName(path).constData()) != 0) {
            why = systemError(errno);
            ok = false;
        }
        if (!ok)
            ::unlink(partName.constData());
    }
    if (!ok) {
        qDebug() << "Can't write file : " << path;
        qDebug().noquote() << "  reason :" << why;
        if (errorString)
            *errorString = why;
    }
    return ok;
}

bool isPartialFileName(const QString &fileName)
{
    return fileName.endsWith(QLatin1String(partSuffix));
}
