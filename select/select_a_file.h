#pragma once

#include <QFrame>
#include <QString>
#include <memory>

class QFileDialog;
class QGridLayout;
namespace Ui {
class SelectAFile;
}

// One path with Select and Clear buttons.
// Mode 0 names one existing image file; mode 1 (save) names a save directory,
// which is created when set, plus a base name (Name) and a free tag (AddTag).
class SelectAFile : public QFrame {
    Q_OBJECT

public:
    enum Mode { OpenMode = 0, SaveMode = 1 };

    explicit SelectAFile(QWidget *parent = nullptr);
    ~SelectAFile() override;

    int mode() const { return selMode; }
    void setMode(int m);
    // In save mode a non-empty path is created as a directory (with missing parents).
    void setPath(const QString &p);
    QString path() const;
    QString name() const;
    void setName(const QString &n);
    QString addTag() const;
    void setAddTag(const QString &t);
    // Shows or hides Name and AddTag (hidden at construction).
    void setNameAndTagVisible(bool f);
    void setSelectText(const QString &text);
    // The file dialog, made when it is first needed (the Select button or
    // this call), so that a window whose dialogs are never opened does not
    // pay for them.
    QFileDialog *dialog() const;

signals:
    void fileSelected(QString fname);
    void clear();

public slots:
    void setStat(bool f);
    // As setStat, with why in the tooltip beside the path when f is false.
    void setStatWithReason(bool f, const QString &why);
    void fileSelected0(const QString &fname);
    void clear0();

protected:
    // The row of the form, for classes that add widgets at its end.
    QGridLayout *rowLayout() const;

private:
    std::unique_ptr<Ui::SelectAFile> ui;
    int selMode = OpenMode;
    void applyMode() const;

    mutable std::unique_ptr<QFileDialog> fileDialog;
    QString dialogDir; // the folder the dialog opens in when it is made
};
