#pragma once
// The display panel of a parallel calculator: the cross-section with its
// colour bar, the display and calculation regions, the slice number and the
// start, end and spent times. It lives in the GUI thread; its calculator lives
// in a thread of its own and is reached only by queued signals, so the panel
// hands it a copy of the calculation region and of the colour-bar mapping
// whenever they change.
#include "image/level_map.h"

#include <QDateTime>
#include <QFrame>
#include <QImage>
#include <QRectF>
#include <memory>

class CtCalc2;
class ImgDispWPV;
class QPainter;
namespace Ui {
class CtCalc2Ui;
}

class CtCalc2Ui : public QFrame {
    Q_OBJECT
public:
    explicit CtCalc2Ui(QWidget *parent = nullptr);
    ~CtCalc2Ui() override;

    // Links the panel and its calculator (both ways; once).
    void setCtCalc2(CtCalc2 *c);
    CtCalc2 *ctCalc2() const { return calc; }

    ImgDispWPV *dispCt() const;
    // The calculation region as shown (decimals; text that is no number reads 0).
    double crx0() const;
    double crz0() const;
    double crx1() const;
    double crz1() const;
    bool cRegionSet() const { return crSet; }
    int shownSliceNo() const;
    LevelMap levelMap() const;
    bool colorScaleFixed() const;

signals:
    void dRUpdated(double rx0, double rz0, double rx1, double rz1);
    void cRUpdated(double rx0, double rz0, double rx1, double rz1);
    // To the calculator (queued).
    void calcRegionChanged(double x0, double z0, double x1, double z1, bool set);
    void levelsChanged(LevelMap map, bool fixed);
    void valueRequested(double x, double z);

private slots:
    void noticedNewPos(double x, double z);
    void noticedNewS(QRectF s);
    void setCRegion();

public slots:
    void showStartTime();
    void showEndTime();
    void showSpentT();
    void showSliceNo(int no);
    void newImage();
    void saveImage(QString fname);
    void setCR(double rx0, double rz0, double rx1, double rz1);
    void setDR(double rx0, double rz0, double rx1, double rz1);
    void setFixColorScale(bool f);
    void setCBarMinMaxForced(double min, double max);

    // From the calculator.
    void sliceStarted(int slice);
    void sliceEnded();
    void showResultImage(QImage img);
    void showResultRange(double minV, double maxV);
    void showValue(double v);

private:
    void pushRegion();
    void pushLevels();
    void drawRegion(QPainter *p);

    std::unique_ptr<Ui::CtCalc2Ui> ui;
    CtCalc2 *calc = nullptr;
    QDateTime startT;
    QDateTime endT;
    bool crSet = false;
    QRectF dRegion;
    bool showDRegion = false;
};
