#pragma once
// Running the built programs from a test as a user would on a machine without
// a display, and reading what they leave behind.
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <map>
#include <utility>

namespace headless {

// A program built beside the test programs.
inline QString program(const char *name)
{
    return QCoreApplication::applicationDirPath() + "/" + name;
}

inline bool writeText(const QString &fname, const QString &text)
{
    QFile f(fname);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    f.write(text.toUtf8());
    return true;
}

struct Run {
    bool ended = false; // within the time allowed (killed otherwise)
    bool normalExit = false; // not crashed or killed
    int code = -1; // exit code; -1 unless it exited normally
    QString err; // all it wrote on stderr
};

// Runs vorlo2 in dir with no DISPLAY and no platform asked for.
inline Run runVorlo(const QString &dir, const QStringList &args, int timeoutMs = 120000)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    p.start(program("vorlo2"), args);
    Run r;
    r.ended = p.waitForFinished(timeoutMs);
    if (!r.ended) {
        p.kill();
        p.waitForFinished();
    }
    r.normalExit = p.exitStatus() == QProcess::NormalExit;
    r.code = r.normalExit ? p.exitCode() : -1;
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// CT data file lines "x z value" after the "#" header lines, keyed (x, z).
inline std::map<std::pair<int, int>, double> readCtData(const QString &fname)
{
    std::map<std::pair<int, int>, double> v;
    QFile f(fname);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return v;
    QTextStream in(&f);
    QString line;
    while (in.readLineInto(&line)) {
        if (line.startsWith('#'))
            continue;
        const QStringList it = line.split('\t');
        if (it.size() == 3)
            v[{ it[0].toInt(), it[1].toInt() }] = it[2].toDouble();
    }
    return v;
}

} // namespace headless
