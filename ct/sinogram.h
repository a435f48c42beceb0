#pragma once
// The "Sinogram" panel: builds the sinogram of the current slice from the
// image stack (centred on the centre of rotation of the Proc Control panel),
// shows its intensities over a full turn (the stack covers half a turn, so the
// lower half of the picture is the upper half mirrored left-right) and, when
// asked, the magnitude of its two-dimensional Fourier transform. The
// single-slice calculator reconstructs from the holder built here.
#include "ct/h_sgm.h"

#include <QFrame>
#include <QImage>
#include <memory>
#include <vector>

class ImgDatas;
class ImgDispWPV;
class ProcCtrl;
struct LevelMap;
namespace Ui {
class Sinogram;
}

class Sinogram : public QFrame {
    Q_OBJECT
public:
    explicit Sinogram(QWidget *parent = nullptr);
    ~Sinogram() override;

    // The panel only refers to both; the main window owns them.
    void setProcCtrl(ProcCtrl *p) { procCtrl = p; }
    void setImgDatas(ImgDatas *s) { stack = s; }
    ProcCtrl *getProcCtrl() const { return procCtrl; }

    // The last sinogram built (kept when a build fails).
    HSgm *hSgm() { return &sgm; }
    const HSgm *hSgm() const { return &sgm; }
    // Extremes of the raw values of the last picture.
    double rawMin() const { return rawMin_; }
    // The pictures wait for the panel to be shown: a sinogram built while it
    // is hidden (always so in a run without window) gets its pictures when
    // the panel appears, so hidden rebuilds cost only the data.
    bool picturePending() const { return pendingPicture; }
    // While held, Proc Control's changes rebuild nothing: for a caller that
    // changes several of them at once and then rebuilds once itself.
    void setRebuildsHeld(bool held) { rebuildsHeld = held; }
    double rawMax() const { return rawMax_; }

    ImgDispWPV *sinogramDisplay() const;
    ImgDispWPV *fourierDisplay() const;
    bool genFouS() const;

    // The full-turn picture of a sinogram's raw values: width x (2 * rows),
    // row k = raw[k] and row rows + k = raw[k] mirrored left-right. Null when
    // the holder holds no sinogram.
    static QImage fullTurnImage(const HSgm &h, const LevelMap &map);
    // Magnitudes of the 2-D DFT (sign -1) of the full-turn raw values scaled by
    // 1 / (2 * width * rows), [2 * rows][width] row-major, zero frequency at
    // index 0. Empty when there is no sinogram or FFTW cannot plan it.
    static std::vector<double> fourierMagnitudes(const HSgm &h);

private slots:
    void newPos(double x, double y);
    void corUpdated();
    void sliceNoUpdated();
    void rotAxUpdated();
    void autoUpdateUpdated();
    void corEditingFinished();

public slots:
    // Builds a sinogram into the given holder from the panel's stack; the
    // holder is left as it was when no sinogram can be built.
    bool genSinogram0(HSgm *hSgm, bool rotAxIsV, double cor, int slice);
    bool genSinogram();
    void genImage();
    void genSgmImage();
    void genFouSImage();
    void setGenFouS(bool f);

protected:
    void showEvent(QShowEvent *e) override;

private:
    bool autoUpdate() const;
    void rebuildIfAuto();

    std::unique_ptr<Ui::Sinogram> ui;
    ProcCtrl *procCtrl = nullptr;
    ImgDatas *stack = nullptr;
    HSgm sgm;
    double rawMin_ = 0.0;
    double rawMax_ = 0.0;
    bool pendingPicture = false;
    bool rebuildsHeld = false;
};
