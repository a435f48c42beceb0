#pragma once
// An image display with colour bar and a read-out row: X, Y, the value under
// the mouse, and a "Scale Reset" button.
#include "display/img_disp_w_cbar.h"

#include <memory>

class QFrame;
namespace Ui {
class ImgDispWPV;
}

class ImgDispWPV : public ImgDispWCBar {
    Q_OBJECT
public:
    explicit ImgDispWPV(QWidget *parent = nullptr);
    ~ImgDispWPV() override;

    // The read-out frame "PVFrame".
    QFrame *pvFrame() const;

signals:
    void newPosInvY(double x, double y);

public slots:
    void noticedNewPos(int ix, int iy);
    void setVal(double v);

private:
    std::unique_ptr<QFrame> uiHolder; // parentless frame the form is built on
    std::unique_ptr<Ui::ImgDispWPV> ui;
};
