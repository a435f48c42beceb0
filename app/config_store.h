#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// What the command line asks of start-up besides the configuration file and
// the data root; the main window takes these after it has been built.
struct StartFlags {
    bool noTranslation = false; // "-e": keep the built-in English texts
    bool loadBatch = false; // "-b" given
    QString batchFile; // value of "-b", or "batchFile.bat"
    bool execBatch = false; // "-x": start the loaded batch
    bool noWindow = false; // "-nw": do not show the main window
    bool verbose = false; // "-v": show the routine trace as well
};

// Key/value settings from the command line and the configuration file (with
// the files it includes), plus every configuration line in reading order, so
// that the main window can execute them as commands once it exists.
//
// Keys are kept twice: exactly as written (case-sensitive look-ups) and
// upper-cased (case-insensitive look-ups). Each index keeps one record per
// key, in the order the key was first set.
class ConfigStore {
public:
    struct Entry {
        QString key;
        QString value; // first item after the key
        QString rest; // all text after the key, separating blanks included
    };

    // The store of the running program.
    static ConfigStore &global();

    // Every argument starting with "-" (argv[0] included) becomes an entry:
    // its value is the next argument unless that starts with "-", its rest
    // all directly following non-option arguments joined by single blanks.
    void parseCommandLine(int argc, char **argv);
    void parseArguments(const QStringList &args);

    // Reads a configuration file: comments removed, blank lines skipped,
    // "INCLUDE file" (any letter case) read at once in place. False when the
    // file cannot be opened or is already being read (an include cycle).
    bool readFile(const QString &name);

    void set(const QString &key, const QString &value, const QString &rest);
    bool contains(const QString &key) const;
    QString value(const QString &key, const QString &def = QString()) const;
    QString restNoCase(const QString &key, const QString &def = QString()) const;
    QStringList lines() const { return configLines; }
    QString fileName() const { return currentFile; }
    const QVector<Entry> &entries() const { return exact; }

    // Start-up decisions drawn from the stored options.
    QString configFileName() const; // "-c", then "-config"
    QString dataRootFor(const QString &current) const; // "DataRoot", then "-d"
    StartFlags startFlags() const;

private:
    static void setIn(
        QVector<Entry> &list, const QString &key, const QString &value, const QString &rest);
    static const Entry *find(const QVector<Entry> &list, const QString &key);

    QVector<Entry> exact;
    QVector<Entry> noCase;
    QStringList configLines;
    QString currentFile;
    QStringList filesBeingRead; // canonical paths, for refusing include cycles
};
