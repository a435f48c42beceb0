#include "display/disp_a_w_layout.h"

#include "display/disp_a.h"
#include "ui_disp_a_w_layout.h"

DispAWLayout::DispAWLayout(QWidget *parent)
    : QFrame(parent)
    , ui(new Ui::DispAWLayout)
{
    ui->setupUi(this);
    DispA *a = ui->dispA;
    connect(a, &DispA::drawImage0, this, &DispAWLayout::drawImage0);
    connect(a, &DispA::drawImage1, this, &DispAWLayout::drawImage1);
    connect(a, &DispA::drawImage2, this, &DispAWLayout::drawImage2);
    connect(a, &DispA::mouseMoved0, this, &DispAWLayout::mouseMoved0);
    connect(a, &DispA::mousePressed0, this, &DispAWLayout::mousePressed0);
    connect(a, &DispA::mouseReleased0, this, &DispAWLayout::mouseReleased0);
    connect(a, &DispA::mouseDoubleClicked0, this, &DispAWLayout::mouseDoubleClicked0);
    connect(a, &DispA::wheelMoved0, this, &DispAWLayout::wheelMoved0);
}

DispAWLayout::~DispAWLayout() = default;

DispA *DispAWLayout::dispA() const { return ui->dispA; }

QGridLayout *DispAWLayout::gridLayout() const { return ui->gridLayout; }
