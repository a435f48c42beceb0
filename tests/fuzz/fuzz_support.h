#pragma once
// Shared set-up of the fuzz targets: one application object, a silent debug
// log (every refused input logs a line, which would dominate the run time),
// and a scratch file that each input is written to for the file readers.
#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline void silentLog(QtMsgType, const QMessageLogContext &, const QString &) { }

// Creates the application object once; the readers need none, the link's
// socket needs an event loop.
inline void init()
{
    static int argc = 1;
    static char name[] = "vorlo2-fuzz";
    static char *argv[] = { name, nullptr };
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
    if (!qEnvironmentVariableIsSet("VORLO_FUZZ_LOG"))
        qInstallMessageHandler(silentLog);
}

inline const QTemporaryDir &scratchDir()
{
    static QTemporaryDir dir;
    return dir;
}

// Writes the input to the scratch file of the given name and returns its path.
inline QString writeInput(const uint8_t *data, size_t size, const char *name = "input")
{
    const QString path = scratchDir().filePath(QString::fromLatin1(name));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || f.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size)) {
        std::fprintf(stderr, "fuzz: can not write the scratch file %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

inline QString latin1(const uint8_t *data, size_t size)
{
    return QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(size));
}

inline QString utf8(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
}

} // namespace fuzz

// A property every input must keep; a violation stops the run like a crash.
#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
