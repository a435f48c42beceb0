#include "app/command_table.h"

#include <QFileInfo> // before the main window's header, which uses QFileInfoList

#include "app/body.h"

#include <QDebug>

CommandTable::CommandTable(Body &b)
    : body(b)
{
}

CommandTable::~CommandTable() = default;

void CommandTable::exec(const BatchCmd &cmd)
{
    if (!cmd.cmd.isEmpty())
        qDebug().noquote() << QString("Unknown command \"%1\"").arg(cmd.cmd);
    emit body.callBatchCheckEnd();
}

bool CommandTable::saveSetup(const QString &fname)
{
    qDebug().noquote() << QString("Can't save setup file \"%1\"").arg(fname);
    return false;
}

bool CommandTable::loadSetup(const QString &fname)
{
    qDebug().noquote() << QString("Can't load setup file \"%1\"").arg(fname);
    return false;
}
