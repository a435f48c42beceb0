#pragma once
// Paces a projection-by-projection reconstruction: it lives in a thread of its
// own and only posts the index of the next projection back to the calculator,
// so that the GUI thread repaints between two projections.
#include <QObject>

class CtProgress : public QObject {
    Q_OBJECT
public:
    explicit CtProgress(QObject *parent = nullptr)
        : QObject(parent)
    {
    }

    // Set by the calculator while the progress thread is stopped.
    int total = 0; // number of projections
    int index = 0; // projection posted last

signals:
    void calcAll();
    void calcOne(int pc);
    void finishedCalcOneByOne();

public slots:
    void startCalcAll();
    void startCalcOneByOne();
    void calcNext();
};
