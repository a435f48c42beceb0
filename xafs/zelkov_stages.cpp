#include "xafs/zelkov_stages.h"

#include "xafs/zelkov_link.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

ZelkovStages::ZelkovStages(QObject *parent)
    : QObject(parent)
{
}

QString ZelkovStages::busyStyle()
{
    return QStringLiteral("background-color: rgb(255, 192, 192);");
}

QString ZelkovStages::idleStyle()
{
    return QStringLiteral("background-color: rgb(211, 255, 241);");
}

QString ZelkovStages::contOnStyle()
{
    return QStringLiteral("background-color: rgb(255, 255, 128);");
}

QString ZelkovStages::contOffStyle()
{
    return QStringLiteral("background-color: rgb(240, 240, 240);");
}

QString ZelkovStages::sliceText(int n) { return QString::asprintf("%05d", n); }

ZelkovStageInputs ZelkovStages::read() const { return inputs ? inputs() : ZelkovStageInputs(); }

void ZelkovStages::attach(ZelkovLink *l)
{
    if (link) {
        disconnect(link, nullptr, this, nullptr);
        disconnect(this, nullptr, link, nullptr);
        disconnect(this, &ZelkovStages::zklStatChanged, this, &ZelkovStages::zklStageCtrl);
    }
    link = l;
    reset();
    if (!l)
        return;
    connect(l, &ZelkovLink::changedIsBusy, this, &ZelkovStages::zklChangedIsBusy);
    connect(this, &ZelkovStages::zklLoadFilesOfPattern, l, &ZelkovLink::loadFilesOfPattern);
    connect(this, &ZelkovStages::zklLoadFiles, l, &ZelkovLink::loadFiles);
    connect(this, &ZelkovStages::zklStatChanged, this, &ZelkovStages::zklStageCtrl);
    connect(this, &ZelkovStages::exec2dA, l, &ZelkovLink::exec2dA);
}

void ZelkovStages::reset()
{
    stage = Idle;
    setContMode(false);
    emit contModeChanged(false);
    first = last = current = 0;
    // Force the idle colour once, whatever the mirror held.
    busyMirror = true;
    zklChangedIsBusy(false);
}

void ZelkovStages::setContMode(bool on)
{
    if (cont == on)
        return;
    cont = on;
    emit contModeChanged(on);
}

QStringList ZelkovStages::dataFilesOfSlice(const ZelkovStageInputs &in, int n, QString &patternDir)
{
    patternDir.clear();
    const QString s = sliceText(n);
    const QDir dir(in.dataDir);
    QStringList list;
    if (in.inSubFolders && in.subOfSlice) {
        patternDir = QDir::toNativeSeparators(
            dir.absolutePath() + QLatin1Char('/') + s + QLatin1Char('/'));
        return list;
    }
    const QStringList pattern { QStringLiteral("*-%1.dat").arg(s) };
    const QDir::SortFlags order = QDir::Name | QDir::IgnoreCase;
    if (in.inSubFolders) {
        // One sub-folder per energy. "." and ".." are left out: ".." would
        // send result files of a neighbouring run, "." repeats the flat case.
        const QStringList subs = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, order);
        for (const QString &sub : subs) {
            const QDir d(dir.absoluteFilePath(sub));
            for (const QFileInfo &fi : d.entryInfoList(pattern, QDir::Files, order))
                list.append(QDir::toNativeSeparators(fi.absoluteFilePath()));
        }
    } else {
        for (const QFileInfo &fi : dir.entryInfoList(pattern, QDir::Files, order))
            list.append(QDir::toNativeSeparators(fi.absoluteFilePath()));
    }
    return list;
}

void ZelkovStages::execForSlice(int n)
{
    emit sliceNoRequested(n);
    stage = FilesSent;
    current = n;
    QString patternDir;
    const QStringList files = dataFilesOfSlice(read(), n, patternDir);
    if (!patternDir.isEmpty())
        emit zklLoadFilesOfPattern(patternDir);
    else
        emit zklLoadFiles(files);
}

void ZelkovStages::zklChangedIsBusy(bool f)
{
    if (f == busyMirror)
        return;
    busyMirror = f;
    emit busyShownChanged(f);
    emit zklStatChanged();
}

void ZelkovStages::zklStageCtrl()
{
    if (busyMirror || stage == Idle)
        return;
    const QString done = link ? link->lastFinished() : QString();
    if (stage == FilesSent) {
        if (done != QLatin1String("LOAD_I1_FILES_OF_PATTERN")
            && done != QLatin1String("LOAD_I1_FILES"))
            return;
        if (read().with2DA || cont) {
            stage = AnalysisRequested;
            emit exec2dA(sliceText(current));
        } else {
            stage = Idle;
        }
    } else if (stage == AnalysisRequested) {
        if (done != QLatin1String("ANALYZER_EXEC_2DA"))
            return;
        if (cont) {
            current += step;
            if (current > last)
                setContMode(false); // stage stays 2: nothing further happens
            else
                execForSlice(current);
        } else {
            stage = Idle;
        }
    } else {
        stage = Idle;
    }
}

void ZelkovStages::zklStartCont2dA()
{
    if (cont) {
        setContMode(false);
        return;
    }
    const ZelkovStageInputs in = read();
    // A step of zero or below would analyse the same slice (or walk down)
    // for ever.
    if (in.sliceStep <= 0) {
        qDebug() << "Cont. 2DA needs a positive slice step :" << in.sliceStep;
        return;
    }
    first = in.sliceFrom;
    last = in.sliceTo;
    step = in.sliceStep;
    current = first;
    setContMode(true);
    execForSlice(first);
}

void ZelkovStages::exec2dA0() { emit exec2dA(sliceText(read().currentSlice)); }
