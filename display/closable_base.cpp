#include "display/closable_base.h"

#include <QCloseEvent>

ClosableBase::ClosableBase(QWidget *parent)
    : QFrame(parent)
{
}

void ClosableBase::closeEvent(QCloseEvent *event)
{
    emit closed();
    QFrame::closeEvent(event);
}
