#include "app/batch.h"

#include "util/text_util.h"
#include "util/trace_log.h"

#include <QDebug>
#include <QFile>
#include <QTextStream>

#include <cstdio>

Batch::Batch(QObject *parent)
    : QObject(parent)
{
    BatchCmd::registerType();
    // Queued, not direct: each step returns to the event loop first, so
    // chains of control lines neither grow the stack nor block other slots.
    connect(this, &Batch::batchExecNext, this, &Batch::batchNext, Qt::QueuedConnection);
    connect(this, &Batch::batchFinishALine, this, &Batch::batchCheckEnd);
}

void Batch::requestNext()
{
    // One step at a time: a restart while a step is still queued must not
    // start a second chain next to the first.
    if (nextPending)
        return;
    nextPending = true;
    emit batchExecNext();
}

void Batch::batchLoad(QString fname)
{
    QFile file(fname);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug().noquote() << QString("Can't open batch file \"%1\"").arg(fname);
        return;
    }
    QStringList read;
    QTextStream in(&file);
    QString l;
    while (in.readLineInto(&l))
        read << l;
    file.close();

    lines.clear();
    QString continued; // lines ending in a backslash, joined by blanks
    for (const QString &raw : read) {
        QString text = removeComment(raw);
        if (endsWithContinuationMark(text)) {
            continued += text + QLatin1Char(' ');
            continue;
        }
        text = continued + text;
        continued.clear();
        if (!text.isEmpty())
            lines << text;
    }
    continued.chop(1);
    if (!continued.isEmpty()) // the file ended on a continued line
        lines << continued;
}

void Batch::batchExec()
{
    if (running) {
        running = false; // stops after the command in progress
        return;
    }
    batchStart();
}

void Batch::batchStart()
{
    running = true;
    index = 0;
    requestNext();
}

void Batch::batchStop() { running = false; }

void Batch::batchCheckEnd()
{
    if (!running)
        return;
    if (lines.isEmpty())
        running = false;
    else
        requestNext();
}

void Batch::batchNext()
{
    nextPending = false;
    if (!running)
        return;
    if (index >= lines.size()) {
        running = false;
        return;
    }

    BatchCmd cmd(lines.at(index));
    ++index;
    qCDebug(vorloTrace).noquote() << QString("cmd \"%1\"").arg(cmd.cmd);

    if (cmd.matches(":ifok") && ok)
        cmd = BatchCmd(cmd.argsLine());
    if (cmd.matches(":ifng") && !ok)
        cmd = BatchCmd(cmd.argsLine());

    if (cmd.matches(":goto")) {
        const QString label = cmd.text();
        for (int i = 0; i < lines.size(); ++i) {
            if (BatchCmd(lines.at(i)).cmd == label) {
                index = i;
                break;
            }
        }
        requestNext();
    } else if (cmd.matches(":end") || cmd.matches(":stop")) {
        running = false;
    } else if (cmd.matches(":echo")) {
        qCDebug(vorloTrace).noquote() << QString("\"%1\"").arg(cmd.line);
        // The batch's own output: the text after the command, as written.
        const QString line = cmd.line.trimmed();
        const QString text = line.mid(line.indexOf(cmd.cmd) + cmd.cmd.size()).trimmed();
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
        requestNext();
    } else {
        ok = true;
        emit batchExCmd(cmd);
    }
}
