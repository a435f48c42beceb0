#include "app/setup_file.h"

#include "util/safe_file.h"
#include "util/text_util.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

bool holdsItemSpace(const QString &v)
{
    for (const QChar c : v) {
        const char16_t u = c.unicode();
        if (u == u' ' || (u >= u'\t' && u <= u'\r'))
            return true;
    }
    return false;
}

void logOpenFailure(const QString &fname)
{
    qDebug().noquote() << QString("can't open save setup file : \"%1\"").arg(fname);
}

} // namespace

const QString SetupFile::header = QStringLiteral("### vorlo2 setup saving setup file");

SetupFile::Item SetupFile::Item::flag(const QString &key, bool on)
{
    return Item { key, { on ? QStringLiteral("1") : QStringLiteral("0") } };
}

SetupFile::Item SetupFile::Item::integer(const QString &key, int v)
{
    return Item { key, { QString::number(v) } };
}

SetupFile::Item SetupFile::Item::real(const QString &key, double v)
{
    return Item { key, { SetupFile::number(v) } };
}

SetupFile::Item SetupFile::Item::text(const QString &key, const QString &v)
{
    return Item { key, { v } };
}

SetupFile::Item SetupFile::Item::dirAndSuffix(const QString &key, const QString &firstFile)
{
    const QFileInfo fi(firstFile);
    return Item { key, { fi.absolutePath(), QStringLiteral("*.") + fi.suffix() } };
}

QStringList SetupFile::sectionTitles()
{
    return { QStringLiteral("## Original Images"), QStringLiteral("## CT Reconstruction setting"),
        QStringLiteral("## CT Reconstruction calculation"),
        QStringLiteral("## Additional Settings for CT-XAFS") };
}

QString SetupFile::number(double v)
{
    QString s;
    QTextStream(&s) << v;
    return s;
}

QString SetupFile::formatValue(const QString &v)
{
    return holdsItemSpace(v) ? QLatin1Char('"') + v + QLatin1Char('"') : v;
}

QString SetupFile::formatLine(const Item &item)
{
    QString line = item.key.size() >= keyColumn ? item.key + QLatin1Char(' ')
                                                : padRight(item.key, keyColumn);
    QStringList values;
    for (const QString &v : item.values)
        values << formatValue(v);
    return line + values.join(QLatin1Char(' '));
}

bool SetupFile::write(const QString &fname, const QVector<Section> &sections)
{
    // Made in memory, then written whole under a temporary name and renamed,
    // so that a failed write leaves a setup saved earlier under the same name
    // as it was.
    QString text;
    QTextStream out(&text);
    out << header << '\n';
    for (const Section &s : sections) {
        out << '\n' << s.title << "\n\n";
        for (const Item &item : s.items)
            out << formatLine(item) << '\n';
    }
    out.flush();
    // What an open for writing would refuse: no name, a folder in its place,
    // or a folder that is missing or closed to writing.
    const QFileInfo fi(fname);
    const QFileInfo folder(fi.absolutePath());
    if (fname.isEmpty() || fi.isDir() || !folder.isDir() || !folder.isWritable()) {
        logOpenFailure(fname);
        return false;
    }
    if (!writeWholeFile(fname, text.toUtf8())) {
        qDebug().noquote() << QString("can't write save setup file : \"%1\"").arg(fname);
        return false;
    }
    return true;
}

bool SetupFile::read(const QString &fname, QVector<BatchCmd> &cmds)
{
    QFile file(fname);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        logOpenFailure(fname);
        return false;
    }
    QVector<BatchCmd> got;
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line))
        got << BatchCmd(line);
    cmds = got;
    return true;
}
