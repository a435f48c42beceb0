#include "display/pop_dock_base.h"

#include "display/closable_base.h"
#include "ui_pop_dock_base.h"

PopDockBase::PopDockBase(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::PopDockBase)
    , popWin(new ClosableBase)
{
    ui->setupUi(this);
    popGrid = new QGridLayout(popWin.get());
    popWin->resize(500, 500);
    connect(ui->PopDock, &QPushButton::clicked, this, &PopDockBase::popDock);
    connect(popWin.get(), &ClosableBase::closed, this, &PopDockBase::moveToDockBase);
}

PopDockBase::~PopDockBase() = default;

QGridLayout *PopDockBase::dockLayout() const { return ui->Layout; }

void PopDockBase::popDock()
{
    if (popWin->isHidden())
        popWin->show();
    else
        popWin->hide();
    if (!content)
        return;
    // Adding the panel to the other layout re-parents it there.
    if (popWin->isVisible())
        popGrid->addWidget(content);
    else
        ui->Layout->addWidget(content);
}

void PopDockBase::moveToDockBase()
{
    if (content)
        ui->Layout->addWidget(content);
}

void PopDockBase::moveToPopBase()
{
    if (content)
        popGrid->addWidget(content);
}
