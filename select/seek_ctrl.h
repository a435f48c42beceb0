#pragma once

#include <QFrame>
#include <memory>

namespace Ui {
class SeekCtrl;
}

// Slider, spin box and two step buttons that choose the index of the image
// shown from the loaded stack. Setting the spin box from code raises its own
// change notification, so newIndex can repeat an index; receivers treat a
// repeat as harmless.
class SeekCtrl : public QFrame
{
    Q_OBJECT

public:
    explicit SeekCtrl(QWidget *parent = nullptr);
    ~SeekCtrl() override;

    int value() const;
    int maximum() const;
    // Both maxima; the owner sets them to (number of loaded images - 1).
    void setMaximum(int max);
    // The spin box value, clamped by it to 0 ... maximum.
    void setValue(int v);
    // Value and maxima back to 0, for a new file set.
    void reset();

signals:
    void newIndex(int idx);

public slots:
    void sliderMoved(int val);
    void indexChanged(int val);
    void inc();
    void dec();

private:
    void stepTo(int target);

    std::unique_ptr<Ui::SeekCtrl> ui;
};
