#include "display/img_disp_wpv.h"

#include "ui_img_disp_wpv.h"

#include "display/number_field.h"

#include <QGridLayout>

ImgDispWPV::ImgDispWPV(QWidget *parent)
    : ImgDispWCBar(parent)
    , uiHolder(new QFrame)
    , ui(new Ui::ImgDispWPV)
{
    ui->setupUi(uiHolder.get());
    setObjectName(QStringLiteral("ImgDispWPV"));
    resize(492, 464);
    setWindowTitle(tr("Image Display with Position and Value"));
    lowerLayout()->addWidget(ui->PVFrame, 0, 0);
    // Positions are whole pixels: room for five digits and a sign, more
    // when one needs it.
    fitNumberField(ui->PosX, QStringLiteral("-88888"));
    fitNumberField(ui->PosY, QStringLiteral("-88888"));
    fitNumberField(ui->Val);

    connect(this, &ImgDisp::newPos, this, &ImgDispWPV::noticedNewPos);
    connect(ui->ResetScale, &QPushButton::clicked, this, &ImgDisp::resetScale);
    resize(width(), width());
}

ImgDispWPV::~ImgDispWPV() = default;

QFrame *ImgDispWPV::pvFrame() const { return ui->PVFrame; }

void ImgDispWPV::noticedNewPos(int ix, int iy)
{
    ui->PosX->setText(QString::number(double(ix), 'g', 6));
    ui->PosY->setText(QString::number(double(iy), 'g', 6));
    emit newPosInvY(ix, iy);
}

void ImgDispWPV::setVal(double v) { ui->Val->setText(QString::number(v, 'g', 6)); }
