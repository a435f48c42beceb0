#include "app/config_store.h"

#include "util/text_util.h"
#include "util/trace_log.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {
const char *defaultConfigFile = "config.cfg";
const char *defaultBatchFile = "batchFile.bat";

bool isOption(const QString &arg) { return arg.startsWith(QLatin1Char('-')); }
} // namespace

ConfigStore &ConfigStore::global()
{
    static ConfigStore store;
    return store;
}

void ConfigStore::parseCommandLine(int argc, char **argv)
{
    // Runs before the application object exists, so the arguments are taken
    // in the local 8-bit encoding, as QCoreApplication would.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    parseArguments(args);
}

void ConfigStore::parseArguments(const QStringList &args)
{
    int i = 0;
    while (i < args.size()) {
        const QString &opt = args.at(i);
        ++i;
        if (!isOption(opt))
            continue; // neither an option nor the value of one
        QStringList words;
        while (i < args.size() && !isOption(args.at(i)))
            words << args.at(i++);
        const QString value = words.isEmpty() ? QString() : words.first();
        set(opt, value, words.join(QLatin1Char(' ')));
    }
}

bool ConfigStore::readFile(const QString &name)
{
    const QString canonical = QFileInfo(name).canonicalFilePath();
    if (!canonical.isEmpty() && filesBeingRead.contains(canonical)) {
        qDebug().noquote()
            << QString("Config file is already being read, include refused : \"%1\"").arg(name);
        return false;
    }

    currentFile = name;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        const QString msg = QString("Can't open config file : \"%1\"").arg(name);
        // The default file, when no configuration was asked for, is
        // normally absent: that is routine, not a problem.
        const bool asked = !filesBeingRead.isEmpty() || name != QLatin1String(defaultConfigFile)
            || !value("-c").isEmpty() || !value("-config").isEmpty();
        if (asked)
            qDebug().noquote() << msg;
        else
            qCDebug(vorloTrace).noquote() << msg;
        currentFile.clear();
        return false;
    }
    filesBeingRead << canonical;

    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line)) {
        if (isBlankLine(line))
            continue;
        const QString text = removeComment(line);
        configLines << text;
        QString key, value;
        const QString rest = takeFirstItem(text, key);
        takeFirstItem(rest, value);
        if (key.toUpper() == QLatin1String("INCLUDE"))
            readFile(value);
        else
            set(key, value, rest);
    }
    filesBeingRead.removeLast();
    return true;
}

void ConfigStore::setIn(
    QVector<Entry> &list, const QString &key, const QString &value, const QString &rest)
{
    for (Entry &e : list) {
        if (e.key == key) {
            e.value = value;
            e.rest = rest;
            return;
        }
    }
    list.append(Entry { key, value, rest });
}

const ConfigStore::Entry *ConfigStore::find(const QVector<Entry> &list, const QString &key)
{
    for (const Entry &e : list)
        if (e.key == key)
            return &e;
    return nullptr;
}

void ConfigStore::set(const QString &key, const QString &value, const QString &rest)
{
    setIn(exact, key, value, rest);
    setIn(noCase, key.toUpper(), value, rest);
}

bool ConfigStore::contains(const QString &key) const { return find(exact, key) != nullptr; }

QString ConfigStore::value(const QString &key, const QString &def) const
{
    const Entry *e = find(exact, key);
    return e ? e->value : def;
}

QString ConfigStore::restNoCase(const QString &key, const QString &def) const
{
    const Entry *e = find(noCase, key.toUpper());
    return e ? e->rest : def;
}

QString ConfigStore::configFileName() const
{
    QString name = QLatin1String(defaultConfigFile);
    for (const char *opt : { "-c", "-config" }) {
        const QString v = value(QLatin1String(opt));
        if (!v.isEmpty())
            name = v;
    }
    return name;
}

QString ConfigStore::dataRootFor(const QString &current) const
{
    QString root = value(QStringLiteral("DataRoot"), current);
    const QString d = value(QStringLiteral("-d"));
    if (!d.isEmpty())
        root = d;
    return root;
}

StartFlags ConfigStore::startFlags() const
{
    StartFlags f;
    f.noTranslation = contains(QStringLiteral("-e"));
    f.loadBatch = contains(QStringLiteral("-b"));
    f.batchFile = value(QStringLiteral("-b"));
    if (f.batchFile.isEmpty())
        f.batchFile = QLatin1String(defaultBatchFile);
    f.execBatch = contains(QStringLiteral("-x"));
    f.noWindow = contains(QStringLiteral("-nw"));
    f.verbose = contains(QStringLiteral("-v"));
    return f;
}
