#pragma once
// The last mouse events of one display area: where and with which button and
// keyboard modifiers the mouse was moved, pressed, released and double-clicked.
#include <QObject>
#include <QPoint>

class QMouseEvent;

class MouseC : public QObject {
    Q_OBJECT
public:
    // Button plus the modifier keys Shift, Ctrl and Alt. Left-button codes are
    // 0..7, right-button codes 8..15, any other button 16.
    enum MStat {
        Left = 0,
        ShiftLeft = 1,
        CtrlLeft = 2,
        AltLeft = 3,
        ShiftCtrlLeft = 4,
        ShiftAltLeft = 5,
        CtrlAltLeft = 6,
        ShiftCtrlAltLeft = 7,
        Right = 8,
        ShiftRight = 9,
        CtrlRight = 10,
        AltRight = 11,
        ShiftCtrlRight = 12,
        ShiftAltRight = 13,
        CtrlAltRight = 14,
        ShiftCtrlAltRight = 15,
        OtherButton = 16
    };
    Q_ENUM(MStat)

    explicit MouseC(QObject *parent = nullptr);

    static MStat mStat(Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    MStat pressStat() const { return mStat(pressButton, pressModifiers); }
    // True when none of Shift, Ctrl, Alt is in the set.
    static bool noModifierKeys(Qt::KeyboardModifiers modifiers);

    void recordMove(const QMouseEvent *event);
    void recordPress(const QMouseEvent *event);
    void recordRelease(const QMouseEvent *event);
    void recordDoubleClick(const QMouseEvent *event);

    // Positions in widget pixels, truncated from the event position.
    QPoint prevPos;
    QPoint pos;
    QPoint pressPos;
    QPoint releasePos;
    QPoint dClickPos;
    bool pressed = false;
    Qt::MouseButton button = Qt::NoButton;
    Qt::MouseButton pressButton = Qt::NoButton;
    Qt::MouseButton releaseButton = Qt::NoButton;
    Qt::MouseButton dClickButton = Qt::NoButton;
    Qt::KeyboardModifiers modifiers;
    Qt::KeyboardModifiers pressModifiers;
    Qt::KeyboardModifiers releaseModifiers;
    Qt::KeyboardModifiers dClickModifiers;

signals:
    void mMoved();
    void mPressed();
    void mReleased();
    void mDClicked();
    // Declared for listeners; the area reports wheel, enter and leave itself.
    void wMoved(int step);
    void mEntered();
    void mLeaved();
    void mEnterLeave(bool f);
};

Q_DECLARE_METATYPE(MouseC::MStat)
