#pragma once

#include <QFrame>
#include <QString>
#include <memory>

class QFileDialog;
namespace Ui {
class SelectDir;
}

// One directory, chosen with a non-modal directory dialog that opens in the
// data root and afterwards remembers where it was last.
class SelectDir : public QFrame {
    Q_OBJECT

public:
    explicit SelectDir(QWidget *parent = nullptr);
    ~SelectDir() override;

    QString dirName() const;
    void setSelectText(const QString &text);
    // Points the dialog at dir, shows dir and reports it as chosen, as if the
    // user had picked it in the dialog (used by commands and setup files).
    void chooseDir(const QString &dir);
    // The directory dialog, made when it is first needed (the Select button
    // or this call).
    QFileDialog *dialog() const;

signals:
    void aDirSelected(QString dir);

public slots:
    void setDirName(const QString &dir);

private:
    std::unique_ptr<Ui::SelectDir> ui;
    mutable std::unique_ptr<QFileDialog> fileDialog;
    QString dialogDir; // the folder the dialog opens in when it is made
};
