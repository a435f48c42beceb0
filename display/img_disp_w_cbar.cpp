#include "display/img_disp_w_cbar.h"

#include "display/color_bar.h"

#include <QGridLayout>

ImgDispWCBar::ImgDispWCBar(QWidget *parent)
    : ImgDisp(parent)
{
    setObjectName(QStringLiteral("ImgDispWCBar"));
    resize(80, 626);
    setWindowTitle(tr("Image Display with Color Bar"));

    cBar = new ColorBar(this);
    cBar->setObjectName(QStringLiteral("CBar"));
    cBar->setMinimumWidth(25);
    cBar->setFrameShape(QFrame::StyledPanel);
    cBar->setFrameShadow(QFrame::Raised);
    gridLayout()->addWidget(cBar, 0, 1);
    // The image takes the room; the bar keeps its minimum width and the rows
    // below their natural height.
    gridLayout()->setColumnStretch(0, 1);
    gridLayout()->setRowStretch(0, 1);

    lower = new QGridLayout;
    lower->setContentsMargins(0, 0, 0, 0);
    gridLayout()->addLayout(lower, 1, 0, 1, 2);
    // Under the owner's row (a read-out, say) rather than beside it, so that
    // the display stays narrow enough for two of them side by side.
    lower->addWidget(cBar->controlPanel(), 1, 0, Qt::AlignLeft);

    connect(cBar, &ColorBar::newBar, this, &ImgDispWCBar::newBar);
}
