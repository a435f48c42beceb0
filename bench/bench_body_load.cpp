// Loading a scan through the main window, one file per event-loop turn with
// the end-of-loading defaults, raw image and sinogram, against the baseline of
// adding the same files to a bare image stack in a plain loop.
#include "app/body.h"
#include "image/img_datas.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

struct Scan {
    QTemporaryDir dir;
    QStringList files;

    Scan(int count, int w, int h)
    {
        const QByteArray comment
            = QStringLiteral("Prop_ImageWidth=%1,Prop_ImageHeight=%2,BytesPerPixel=2,")
                  .arg(w)
                  .arg(h)
                  .toLatin1();
        QByteArray head(64, '\0');
        head[0] = 'I';
        head[1] = 'M';
        qToLittleEndian<quint16>(quint16(comment.size()), head.data() + 2);
        QByteArray px(qsizetype(w) * h * 2, '\0');
        for (int i = 0; i < w * h; ++i)
            qToLittleEndian<quint16>(quint16(1000 + i % 3000), px.data() + 2 * i);
        for (int k = 0; k < count; ++k) {
            const QString p = dir.filePath(QString::asprintf("p-%05d.img", k));
            QFile f(p);
            if (f.open(QIODevice::WriteOnly))
                f.write(head + comment + px);
            files << p;
        }
    }
};

Scan &scan()
{
    static Scan s(200, 256, 64);
    return s;
}

void BM_BodyLoad(benchmark::State &state)
{
    Scan &s = scan();
    Body body(1, nullptr);
    for (auto _ : state) {
        QEventLoop loop;
        QObject::connect(&body, &Body::finishedLoadingCTFiles, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        QMetaObject::invokeMethod(
            &body, "dataFilesSelected", Q_ARG(QStringList, s.files), Q_ARG(bool, true));
        loop.exec();
        if (body.imgDatas()->count() != s.files.size()) {
            state.SkipWithError("not every file was loaded");
            return;
        }
    }
    state.counters["files_per_s"]
        = benchmark::Counter(double(s.files.size()), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_StackAddLoop(benchmark::State &state)
{
    Scan &s = scan();
    for (auto _ : state) {
        ImgDatas stack;
        for (const QString &f : s.files)
            stack.add(f);
        if (stack.count() != s.files.size()) {
            state.SkipWithError("not every file was loaded");
            return;
        }
    }
    state.counters["files_per_s"]
        = benchmark::Counter(double(s.files.size()), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_StackAddLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BodyLoad)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // The window needs an application object; no screen is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
