#include "ct/run_record.h"

#include "ct/saving_data.h"
#include "util/safe_file.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <charconv>
#include <cstdlib>

#ifndef VORLO2_VERSION
#define VORLO2_VERSION "unknown"
#endif

namespace {

// Keys are padded to this column; the longest key is "recorded centre 1".
constexpr int keyWidth = 18;

// Shortest text that reads back to the same double (std::to_chars without a
// precision), locale-independent.
QString num(double v)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return QString::fromLatin1(buf, int(r.ptr - buf));
}

// A value on one line: line breaks in a path would split the record.
QString oneLine(QString s)
{
    s.replace(QLatin1Char('\n'), QLatin1Char(' '));
    s.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return s;
}

QString orNone(const QString &s) { return s.isEmpty() ? QStringLiteral("(none)") : oneLine(s); }

void put(QString &out, const char *key, const QString &value)
{
    out += QString::fromLatin1(key).leftJustified(keyWidth);
    out += QStringLiteral(" : ");
    out += value;
    out += QLatin1Char('\n');
}

QString isoDate(const QDateTime &t)
{
    if (!t.isValid())
        return QStringLiteral("(none)");
    // With the offset from UTC written out, so the time is unambiguous.
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

bool recordsUsable(const CtRunParams &p)
{
    return p.recordedSlice1 >= 0 && p.recordedSlice2 >= 0 && p.recordedSlice1 != p.recordedSlice2;
}

// The straight line through the two recorded centres, written exactly as the
// processing control computes it so that equal inputs give equal doubles.
double lineThroughRecords(const CtRunParams &p, int slice)
{
    return (p.recordedCor2 - p.recordedCor1) * (double(slice) - p.recordedSlice1)
        / (double(p.recordedSlice2) - p.recordedSlice1)
        + p.recordedCor1;
}

// Which centre the slices got: one fixed centre, the line through the
// recorded centres, or neither (each slice as listed).
QString centreRule(const RunRecordFacts &f)
{
    const CtRunParams &p = f.params;
    const auto all
        = [&f](auto same) { return std::all_of(f.slices.begin(), f.slices.end(), same); };
    if (!f.slices.isEmpty() && recordsUsable(p)
        && all([&p](const RunRecordSlice &s) { return s.cor == lineThroughRecords(p, s.slice); }))
        return QStringLiteral("recorded centres");
    if (all([&p](const RunRecordSlice &s) { return s.cor == p.cor; }))
        return QStringLiteral("fixed");
    return QStringLiteral("per slice");
}

QString regionText(const RunRecordRegion &r)
{
    if (!r.set)
        return QStringLiteral("whole grid");
    return QStringLiteral("%1 %2 %3 %4").arg(num(r.x0), num(r.z0), num(r.x1), num(r.z1));
}

bool sameRegion(const RunRecordRegion &a, const RunRecordRegion &b)
{
    return a.set == b.set
        && (!a.set || (a.x0 == b.x0 && a.z0 == b.z0 && a.x1 == b.x1 && a.z1 == b.z1));
}

QString commonStart(const QStringList &names)
{
    QString s = names.first();
    for (const QString &n : names) {
        int k = 0;
        while (k < s.size() && k < n.size() && s[k] == n[k])
            ++k;
        s.truncate(k);
    }
    return s;
}

QString commonEnd(const QStringList &names, int maxLen)
{
    QString s = names.first();
    for (const QString &n : names) {
        int k = 0;
        while (k < s.size() && k < n.size() && s[s.size() - 1 - k] == n[n.size() - 1 - k])
            ++k;
        s = s.right(k);
    }
    return s.right(std::min<int>(int(s.size()), maxLen));
}

} // namespace

QString runRecordVersion()
{
    const QString app = QCoreApplication::applicationVersion();
    return app.isEmpty() ? QStringLiteral(VORLO2_VERSION) : app;
}

QString runRecordFileName(const QString &name, const QString &tag)
{
    return QStringLiteral("%1-%2-run.txt").arg(name, tag);
}

int runRecordPlannedSlices(const CtRunParams &p)
{
    const qint64 step = std::max<qint64>(1, std::llabs(qint64(p.sliceStep)));
    return int(std::llabs(qint64(p.sliceTo) - p.sliceFrom) / step + 1);
}

QString runRecordPattern(const QStringList &fileNames)
{
    QStringList names;
    for (const QString &f : fileNames)
        names << QFileInfo(f).fileName();
    names.removeDuplicates();
    if (names.isEmpty())
        return QString();
    if (names.size() == 1)
        return names.first();
    const QString start = commonStart(names);
    // The end must not overlap the beginning in the shortest name.
    int shortest = int(names.first().size());
    for (const QString &n : names)
        shortest = std::min(shortest, int(n.size()));
    const QString end = commonEnd(names, shortest - int(start.size()));
    return start + QLatin1Char('*') + end;
}

QVector<RunRecordPlace> runRecordPlaces(const QVector<RunRecordTarget> &targets)
{
    QVector<RunRecordPlace> places;
    for (const RunRecordTarget &t : targets) {
        if (t.path.isEmpty())
            continue;
        auto it = std::find_if(places.begin(), places.end(), [&t](const RunRecordPlace &p) {
            return p.path == t.path && p.name == t.name && p.tag == t.tag;
        });
        if (it == places.end())
            places.push_back({ t.path, t.name, t.tag, { t.kind } });
        else if (!it->kinds.contains(t.kind))
            it->kinds << t.kind;
    }
    return places;
}

QByteArray runRecordText(const RunRecordFacts &f, const RunRecordPlace &place)
{
    const CtRunParams &p = f.params;
    const int planned = runRecordPlannedSlices(p);
    QString out = QStringLiteral("#VRLO-RunRecord\n");
    put(out, "date", isoDate(f.started));
    put(out, "ended", isoDate(f.ended));
    put(out, "program", QStringLiteral("Vorlo2 ") + oneLine(f.version));
    put(out, "status", f.stopped ? QStringLiteral("stopped") : QStringLiteral("finished"));
    put(out, "slices done", QStringLiteral("%1 of %2").arg(f.slicesDone).arg(planned));
    // A slice can fail for more than one file; it counts once.
    QSet<int> failedSlices;
    for (const RunRecordFailure &x : f.failed)
        failedSlices.insert(x.slice);
    put(out, "slices failed", QString::number(failedSlices.size()));
    put(out, "saved kinds", place.kinds.join(QLatin1Char(' ')));
    put(out, "save name", oneLine(place.name));
    put(out, "save tag", oneLine(place.tag));

    QString dir;
    if (!f.inputFiles.isEmpty()) {
        dir = QFileInfo(f.inputFiles.first()).absolutePath();
        for (const QString &file : f.inputFiles)
            if (QFileInfo(file).absolutePath() != dir) {
                dir = QStringLiteral("(several)");
                break;
            }
    }
    put(out, "input directory", orNone(dir));
    put(out, "input pattern", orNone(runRecordPattern(f.inputFiles)));
    put(out, "input count", QString::number(f.inputFiles.size()));
    put(out, "input first", orNone(f.inputFiles.isEmpty() ? QString() : f.inputFiles.first()));
    put(out, "input last", orNone(f.inputFiles.isEmpty() ? QString() : f.inputFiles.last()));
    put(out, "projections", QString::number(f.projections));
    put(out, "i0", orNone(f.i0Path));
    put(out, "bg", orNone(f.bgPath));

    put(out, "rotation axis",
        p.rotAxIsV ? QStringLiteral("vertical") : QStringLiteral("horizontal"));
    put(out, "slice from", QString::number(p.sliceFrom));
    put(out, "slice to", QString::number(p.sliceTo));
    put(out, "slice step", QString::number(p.sliceStep));
    put(out, "centre", num(p.cor));
    put(out, "centre rule", centreRule(f));
    if (p.recordedSlice1 >= 0)
        put(out, "recorded centre 1",
            QStringLiteral("slice %1 centre %2")
                .arg(savingSliceLabel(p.recordedSlice1), num(p.recordedCor1)));
    if (p.recordedSlice2 >= 0)
        put(out, "recorded centre 2",
            QStringLiteral("slice %1 centre %2")
                .arg(savingSliceLabel(p.recordedSlice2), num(p.recordedCor2)));
    put(out, "angle offset", num(p.angleOffset));
    put(out, "filter", reconFilterName(p.filter));
    put(out, "method", reconMethodName(p.method));
    put(out, "ring removal",
        p.ringSize > 0 ? QStringLiteral("window %1").arg(p.ringSize) : QStringLiteral("off"));

    const bool oneRegion = std::all_of(f.regions.begin(), f.regions.end(),
        [&f](const RunRecordRegion &r) { return sameRegion(r, f.regions.first()); });
    if (f.regions.isEmpty())
        put(out, "calc region", QStringLiteral("whole grid"));
    else if (oneRegion)
        put(out, "calc region", regionText(f.regions.first()));
    else
        for (int i = 0; i < f.regions.size(); ++i)
            out += QStringLiteral("calc region %1").arg(i + 1).leftJustified(keyWidth)
                + QStringLiteral(" : ") + regionText(f.regions[i]) + QLatin1Char('\n');

    put(out, "upper limit", num(p.upperLimit));
    put(out, "lower limit", num(p.lowerLimit));
    put(out, "offset", num(p.offset));
    put(out, "threads", QString::number(p.threads));
    put(out, "threads used", QString::number(f.threadsUsed));
    if (f.ranks > 1) // a run split across processes: threads used is per rank
        put(out, "ranks", QString::number(f.ranks));
    put(out, "kernel", orNone(f.kernel));

    for (const RunRecordSlice &s : f.slices)
        out += QStringLiteral("slice %1 centre %2\n").arg(savingSliceLabel(s.slice), num(s.cor));
    for (const RunRecordFailure &x : f.failed)
        out += QStringLiteral("failed %1 : %2\n").arg(savingSliceLabel(x.slice), oneLine(x.why));
    return out.toUtf8();
}

bool writeRunRecord(const RunRecordFacts &facts, const RunRecordPlace &place)
{
    const QString fname = runRecordFileName(place.name, place.tag);
    if (place.path.isEmpty()) {
        qDebug() << "Can't write file : " << fname;
        return false;
    }
    const QString path = QFileInfo(QDir(place.path), fname).absoluteFilePath();
    // Whole or not at all: every step is checked and the size verified before
    // the record replaces an earlier one of the same name (QSaveFile::commit()
    // has been seen to report success on a full disk).
    return writeWholeFile(path, runRecordText(facts, place));
}
