#pragma once

#include <QFileInfoList>
#include <QFrame>
#include <QString>
#include <QStringList>
#include <memory>

class QButtonGroup;
class QFileDialog;
namespace Ui {
class SelectDataFiles;
}

// An ordered list of image files (measured projections or I0 images).
// A choice (dialog, directory pattern or file list) is emitted as
// filesSelected; the owner loads the files and reports each one it accepted
// back with addFileName, so that Selected lists only loaded files.
class SelectDataFiles : public QFrame {
    Q_OBJECT

public:
    explicit SelectDataFiles(QWidget *parent = nullptr);
    ~SelectDataFiles() override;

    void setSimpleMode(bool f);
    void addFileName(const QString &fname);
    void setDialogDirAndSelect(const QString &dir, const QStringList &patterns);
    void selectFilesInDir(const QString &dir, const QStringList &patterns);
    void selectFileInfos(const QFileInfoList &list);

    // The repeat count of MultiTimes; text that is not a 32-bit integer, or a
    // count beyond any real scan (more than 100000), gives 0.
    int multiTimesCount() const;
    bool isMultiTimes() const;
    void setMultiTimes(bool on, int count);
    bool isNewOnLoad() const;
    // true: LoadNewFiles on; false: AddFiles on.
    void setNewOnLoad(bool f);
    bool keepConditions() const;
    void setKeepConditions(bool f);

    QStringList fileNames() const;
    int count() const;
    int currentIndex() const;
    void setTitle(const QString &text);
    void setSelectText(const QString &text);
    // The file dialog, made when it is first needed (the Select button or
    // this call).
    QFileDialog *dialog() const;
    // Text the file box shows for its current entry in a given width: the
    // path elided in the middle, so that the file name stays in sight.
    QString shownText(int width) const;
    QString toolTipText() const;
    // The file box turns pink when files of the last choice were refused;
    // why is then part of its tooltip. Cleared by the next choice.
    void setStat(bool ok, const QString &why = QString());
    bool statOk() const { return problem.isEmpty(); }

signals:
    void currentIndexChanged(int idx);
    void filesSelected(QStringList files, bool newFile);
    void filesCleared();

public slots:
    void clearFiles();
    void prev();
    void next();
    void select(int idx);
    void setExpTime(double time);
    double expTime() const;
    // The end of every way of choosing files.
    void chosenFiles(const QStringList &files);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void updateCount();
    void updateToolTip();

    std::unique_ptr<Ui::SelectDataFiles> ui;
    QButtonGroup *newOrAdd = nullptr;
    mutable std::unique_ptr<QFileDialog> fileDialog;
    QString dialogDir; // the folder the dialog opens in when it is made
    QString problem; // why files of the last choice were refused
};
