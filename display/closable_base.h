#pragma once
// A top-level frame that reports being closed by its window frame.
#include <QFrame>

class ClosableBase : public QFrame {
    Q_OBJECT
public:
    explicit ClosableBase(QWidget *parent = nullptr);

signals:
    void closed();

protected:
    void closeEvent(QCloseEvent *event) override;
};
