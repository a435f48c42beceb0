// The batch reader and interpreter: a file of any bytes is loaded (comments,
// continuation lines) and run with its control lines (":ifok", ":ifng",
// ":goto", ":end", ":stop", ":echo"); every other line is answered at once,
// alternately as a success and a failure. A run that loops is cut after a
// bounded number of steps.
#include "tests/fuzz/fuzz_support.h"

#include "app/batch.h"

#include <QCoreApplication>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeInput(data, size, "job.bat");
    Batch batch;
    batch.batchLoad(path);
    const QStringList lines = batch.loadedLines();
    for (const QString &l : lines)
        FUZZ_CHECK(!l.isEmpty() && !l.contains(QLatin1Char('\n')));

    int commands = 0;
    QObject::connect(&batch, &Batch::batchExCmd, &batch, [&](BatchCmd cmd) {
        // A line of blanks, or a bare condition that holds, is sent on as an
        // empty command that matches nothing; it never holds a line break.
        FUZZ_CHECK(!cmd.line.contains(QLatin1Char('\n')));
        batch.setOk(++commands % 2 == 0);
        batch.batchCheckEnd();
    });
    batch.batchExec();
    for (int step = 0; step < 500 && batch.isRunning(); ++step) {
        QCoreApplication::processEvents();
        FUZZ_CHECK(batch.currentIndex() >= 0 && batch.currentIndex() <= lines.size());
    }
    if (batch.isRunning())
        batch.batchExec(); // a second start stops a loop
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    FUZZ_CHECK(!batch.isRunning());
    return 0;
}
