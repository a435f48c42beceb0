#include "app/rank_report.h"

#include <QDataStream>
#include <QIODevice>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr quint32 magic = 0x56524b31; // "VRK1"

// Position of a slice in its range run: slices run from sliceFrom towards
// sliceTo, so the distance from sliceFrom orders them as they were handed out.
qint64 rangePosition(const CtRunParams &p, int slice)
{
    return std::llabs(qint64(slice) - p.sliceFrom);
}

} // namespace

SplitRunShare RankReport::shareOf(const RunRecordFacts &facts)
{
    SplitRunShare s;
    s.slices = facts.slices;
    s.failed = facts.failed;
    s.slicesDone = facts.slicesDone;
    s.stopped = facts.stopped;
    s.ended = facts.ended;
    return s;
}

QByteArray RankReport::pack() const
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << magic << qint32(code) << qint32(slicesSaved) << qint32(failedResults)
        << qint32(runs.size());
    for (const SplitRunShare &r : runs) {
        out << qint32(r.slices.size());
        for (const RunRecordSlice &s : r.slices)
            out << qint32(s.slice) << s.cor;
        out << qint32(r.failed.size());
        for (const RunRecordFailure &f : r.failed)
            out << qint32(f.slice) << f.why;
        out << qint32(r.slicesDone) << r.stopped << r.ended;
    }
    return bytes;
}

bool RankReport::unpack(const QByteArray &bytes)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 m = 0;
    qint32 c = 0, saved = 0, failedCount = 0, nRuns = 0;
    in >> m >> c >> saved >> failedCount >> nRuns;
    // Every entry takes at least 4 bytes: a count beyond that is a lie.
    const auto plausible = [&bytes](qint32 n) { return n >= 0 && n <= bytes.size() / 4; };
    if (in.status() != QDataStream::Ok || m != magic || !plausible(nRuns))
        return false;
    QVector<SplitRunShare> read;
    for (qint32 i = 0; i < nRuns; ++i) {
        SplitRunShare r;
        qint32 n = 0;
        in >> n;
        if (!plausible(n))
            return false;
        for (qint32 k = 0; k < n && in.status() == QDataStream::Ok; ++k) {
            qint32 slice = 0;
            double cor = 0;
            in >> slice >> cor;
            r.slices.push_back({ slice, cor });
        }
        in >> n;
        if (!plausible(n))
            return false;
        for (qint32 k = 0; k < n && in.status() == QDataStream::Ok; ++k) {
            qint32 slice = 0;
            QString why;
            in >> slice >> why;
            r.failed.push_back({ slice, why });
        }
        qint32 done = 0;
        in >> done >> r.stopped >> r.ended;
        r.slicesDone = done;
        if (in.status() != QDataStream::Ok)
            return false;
        read.push_back(std::move(r));
    }
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    code = c;
    slicesSaved = saved;
    failedResults = failedCount;
    runs = std::move(read);
    return true;
}

void RankReport::merge(RunRecordFacts &record, const QVector<SplitRunShare> &shares, int ranks)
{
    record.slices.clear();
    record.failed.clear();
    record.slicesDone = 0;
    record.stopped = false;
    for (const SplitRunShare &s : shares) {
        record.slices += s.slices;
        record.failed += s.failed;
        record.slicesDone += s.slicesDone;
        record.stopped = record.stopped || s.stopped;
        if (s.ended.isValid() && (!record.ended.isValid() || s.ended > record.ended))
            record.ended = s.ended;
    }
    const CtRunParams &p = record.params;
    std::stable_sort(record.slices.begin(), record.slices.end(),
        [&p](const RunRecordSlice &a, const RunRecordSlice &b) {
            return rangePosition(p, a.slice) < rangePosition(p, b.slice);
        });
    std::stable_sort(record.failed.begin(), record.failed.end(),
        [&p](const RunRecordFailure &a, const RunRecordFailure &b) {
            return rangePosition(p, a.slice) < rangePosition(p, b.slice);
        });
    record.ranks = ranks;
}
