#pragma once
// A frame holding one DispA in a grid layout and re-emitting its signals; the
// base of every image display.
#include <QFrame>
#include <memory>

class DispA;
class QGridLayout;
#include <QPainter>
namespace Ui {
class DispAWLayout;
}

class DispAWLayout : public QFrame {
    Q_OBJECT
public:
    explicit DispAWLayout(QWidget *parent = nullptr);
    ~DispAWLayout() override;

    DispA *dispA() const;

signals:
    void drawImage0(QPainter *p);
    void drawImage1(QPainter *p);
    void drawImage2(QPainter *p);
    void mouseMoved0();
    void mousePressed0();
    void mouseReleased0();
    void mouseDoubleClicked0();
    void wheelMoved0();

protected:
    // The grid that holds the area at row 0, column 0; displays add to it.
    QGridLayout *gridLayout() const;

private:
    std::unique_ptr<Ui::DispAWLayout> ui;
};
