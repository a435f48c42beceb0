#pragma once
// The grey-level scale of an image display: a value range (minV .. maxV) and a
// contrast window inside it (handles lo and hi, fractions of the range). It
// paints itself as a vertical ramp with the handles and the range's numbers,
// lets the user drag the handles and has a small control panel with the "Fix"
// box and the two limits. Every change of the mapping emits newBar().
#include "display/disp_a.h"
#include "display/draw_text.h"
#include "image/level_map.h"

#include <memory>

class QFrame;
namespace Ui {
class CBarUI;
}

class ColorBar : public DispA {
    Q_OBJECT
public:
    explicit ColorBar(QWidget *parent = nullptr);
    ~ColorBar() override;

    // Grey level 0..255 of a data value under the current mapping.
    int level(double v) const { return levelMap().level(v); }
    // The mapping as a copyable value for code that must not touch the widget
    // (other threads, tight loops).
    LevelMap levelMap() const { return LevelMap { minV_, maxV_, lo_, hi_ }; }

    // Set a limit and show it in its field; no newBar().
    void setMinV(double v);
    void setMaxV(double v);
    double minV() const { return minV_; }
    double maxV() const { return maxV_; }
    double lo() const { return lo_; }
    double hi() const { return hi_; }
    bool dragging() const { return dragging_; }
    bool isFixed() const;

    // The working part of the control panel ("CBarUIBase"), to be moved into
    // the owner's layout.
    QFrame *controlPanel() const;

signals:
    void newBar();

public slots:
    void draw1(QPainter *p);
    void onMouseMoved();
    void onMousePressed();
    void onMouseReleased();
    void minVEdited();
    void maxVEdited();
    void setFixColorScale(bool f);

private:
    std::unique_ptr<QFrame> uiHolder; // parentless frame the form is built on
    std::unique_ptr<Ui::CBarUI> ui;
    DrawText drawText;
    double minV_ = 0.0;
    double maxV_ = 1.0;
    double lo_ = 0.0;
    double hi_ = 1.0;
    bool dragging_ = false;
    double *active = &lo_; // the handle a drag moves
};
