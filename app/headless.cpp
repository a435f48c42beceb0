#include "app/headless.h"

#include <QFileInfo> // before the main window's header, which uses QFileInfoList

#include "app/batch.h"
#include "app/body.h"
#include "app/command_table.h"
#include "ct/data_saver.h"
#include "util/rank_place.h"
#include "util/tsan_handoff.h"

#include <QDebug>
#include <QFile>
#include <QPointer>

#include <cstdio>

Headless::Headless(Body &b, const StartFlags &f, QObject *parent)
    : QObject(parent)
    , body(b)
    , flags(f)
    , table(std::make_unique<CommandTable>(b))
{
    timer.setInterval(pollMs);
    connect(&timer, &QTimer::timeout, this, &Headless::poll);
}

Headless::~Headless() = default;

void Headless::choosePlatform(const ConfigStore &cs)
{
    if (!cs.contains("-nw") || cs.contains("-platform")
        || qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return;
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

void Headless::start()
{
    if (!flags.noWindow)
        return;
    clock.start();
    if (flags.loadBatch && flags.execBatch) {
        // The interpreter logs the failure itself; the code is decided here.
        QFile probe(flags.batchFile);
        loadFailed = !probe.open(QIODevice::ReadOnly | QIODevice::Text);
    }
    // Without a batch the interpreter is idle from the start; the work the
    // configuration started is waited for all the same.
    timer.start();
}

int Headless::exitCode(int failedResults, int refusedInputs)
{
    if (refusedInputs > 0)
        return 3;
    return failedResults > 0 ? 2 : 0;
}

void Headless::poll()
{
    reportProgress();
    if (pollPending || ending)
        return;
    Batch *batch = body.batch();
    if (!batch)
        return;
    pollPending = true;
    // The batch's state belongs to its thread: read it there. Calls queued
    // to it run in order, so the first look comes after the queued load
    // and start of the batch. The answer comes back to this thread, the
    // only one that looks at self.
    QPointer<Headless> self(this);
    QThread *home = thread();
    postHandOffCallInThread(batch->thread(), [self, batch, home] {
        const bool running = batch->isRunning();
        postHandOffCallInThread(home, [self, running] {
            if (self)
                self->batchState(running);
        });
    });
}

void Headless::batchState(bool running)
{
    pollPending = false;
    if (ending)
        return;
    if (loadFailed) {
        ending = true;
        timer.stop();
        emit finished(1);
        return;
    }
    if (running || body.isCalcRunning() || body.isLoading() || body.isCalcStartPending()
        || body.runRecordsPending())
        return;
    ending = true;
    timer.stop();
    flushSaver();
}

void Headless::flushSaver()
{
    // Every result handed to the saver before this call is written before
    // the call runs in the saver's thread.
    DataSaver *saver = body.dataSaver();
    if (!saver) {
        emit finished(exitCode(body.failedResults(), body.refusedInputs()));
        return;
    }
    QPointer<Headless> self(this);
    QThread *home = thread();
    postHandOffCallInThread(saver->thread(), [self, home] {
        postHandOffCallInThread(home, [self] {
            if (self) {
                // Failures of the files written before this call have been
                // reported to the main window by now.
                const int failed = self->body.failedResults();
                const int refused = self->body.refusedInputs();
                std::fprintf(stderr, "%sbatch done in %.1f s (%d failed, %d refused)\n",
                    progressPrefix().constData(), self->clock.elapsed() / 1000.0, failed, refused);
                emit self->finished(exitCode(failed, refused));
            }
        });
    });
}

void Headless::reportProgress()
{
    const int total = table->rangeTotal();
    const int done = table->rangeDone();
    if (total <= 0 || done == lastDone)
        return;
    // At most about one line a second.
    const qint64 now = clock.elapsed();
    if (lastReportMs >= 0 && now - lastReportMs < 1000)
        return;
    lastDone = done;
    lastReportMs = now;
    std::fprintf(stderr, "%s%s %d of %d done (%.1f s)\n", progressPrefix().constData(),
        table->rangeOfCentres() ? "centre" : "slice", done, total, now / 1000.0);
}

QByteArray Headless::progressPrefix()
{
    const RankPlace &place = rankPlace();
    if (!place.split())
        return QByteArrayLiteral("vorlo2: ");
    return QByteArrayLiteral("vorlo2: [") + QByteArray::number(place.rank) + '/'
        + QByteArray::number(place.size) + "] ";
}
