#pragma once
// A frame for a panel in a main-window tab, with a "Pop/Dock" button that
// moves the panel out into a separate window and back. Closing the separate
// window docks the panel again.
#include <QFrame>
#include <memory>

class ClosableBase;
class QGridLayout;
namespace Ui {
class PopDockBase;
}

class PopDockBase : public QFrame {
    Q_OBJECT
public:
    explicit PopDockBase(QWidget *parent = nullptr);
    ~PopDockBase() override;

    // The panel being docked or popped out; the owner sets it and adds it to
    // dockLayout() once.
    void setContent(QWidget *w) { content = w; }
    QWidget *contentWidget() const { return content; }
    QGridLayout *dockLayout() const; // "Layout"
    ClosableBase *popWindow() const { return popWin.get(); }
    QGridLayout *popLayout() const { return popGrid; }

signals:
    void closed();

public slots:
    void popDock();
    void moveToDockBase();
    void moveToPopBase();

private:
    std::unique_ptr<Ui::PopDockBase> ui;
    QWidget *content = nullptr;
    std::unique_ptr<ClosableBase> popWin;
    QGridLayout *popGrid = nullptr;
};
