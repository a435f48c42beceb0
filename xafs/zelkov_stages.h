#pragma once
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class ZelkovLink;

// What the 2-D analysis stages read from the main window's controls at the
// moment they need it: where the data files of a slice were saved, the
// "w 2DA" switch and the slice range of the processing control.
struct ZelkovStageInputs {
    QString dataDir; // path field of the data save-directory selector
    bool inSubFolders = false; // SaveInSubFolders
    bool subOfSlice = false; // SubOfSlice (else one sub-folder per energy)
    bool with2DA = false; // With2DA
    int sliceFrom = 0;
    int sliceTo = 0;
    int sliceStep = 1;
    int currentSlice = 0; // current slice of the processing control
};

// Single and continuous 2-D analysis with Zelkov, slice by slice: tell Zelkov
// which result data files of a slice to load, then (with "w 2DA" or in
// continuous mode) to analyse it, then go on to the next slice of the range.
// The stage only advances on an idle report naming the finished command.
// GUI-free: the main window owns it, feeds the inputs and restyles its
// widgets from the signals.
class ZelkovStages : public QObject {
    Q_OBJECT
public:
    enum Stage { Idle = 0, FilesSent = 1, AnalysisRequested = 2 };

    explicit ZelkovStages(QObject *parent = nullptr);

    void setInputs(std::function<ZelkovStageInputs()> provider) { inputs = std::move(provider); }
    // Wires the link both ways and resets the stages (link set-up of the main
    // window, after the link button has been given to the link).
    void attach(ZelkovLink *link);
    void reset();

    int analysisStage() const { return stage; }
    bool contMode() const { return cont; }
    int currentSlice() const { return current; }
    bool busyShown() const { return busyMirror; }
    void setContMode(bool on);

    // Data files of slice n (absolute paths, native separators), in the save
    // layout given. Sub-folders per slice give one directory (with a trailing
    // separator) instead, returned in patternDir.
    static QStringList dataFilesOfSlice(const ZelkovStageInputs &in, int n, QString &patternDir);
    static QString sliceText(int n);

    static QString busyStyle();
    static QString idleStyle();
    static QString contOnStyle();
    static QString contOffStyle();

signals:
    void zklLoadFilesOfPattern(QString path);
    void zklLoadFiles(QStringList fileList);
    void zklStatChanged();
    void exec2dA(QString sliceNoS);
    void sliceNoRequested(int n); // main window: ProcCtrl slice := n
    void busyShownChanged(bool busy); // main window: ZKLIsBusy style
    void contModeChanged(bool on); // main window: Cont2DA style

public slots:
    void execForSlice(int n);
    void zklChangedIsBusy(bool f);
    void zklStageCtrl();
    void zklStartCont2dA();
    void exec2dA0();

private:
    ZelkovStageInputs read() const;

    std::function<ZelkovStageInputs()> inputs;
    QPointer<ZelkovLink> link;
    int stage = Idle;
    bool cont = false;
    int first = 0;
    int last = 0;
    int step = 1;
    int current = 0;
    bool busyMirror = false;
};
