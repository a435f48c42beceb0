#pragma once

#include <QFileInfoList>
#include <QFrame>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

#include "select/ct_file_set.h"

namespace Ui {
class SelectDataDir;
}

// Turns one measurement directory of a CT-XAFS run into a numbered list of
// data sets (one per X-ray energy) and hands the current set's files on.
// Sub-directory layout: every sub-directory is a set, its files those that
// match the patterns of Pattern. ASR-standard layout: every file lies in the
// directory itself and consecutive names sharing the text before the last '-'
// form a set (CtFileSet). Entry i of SubDirs describes set i.
class SelectDataDir : public QFrame
{
    Q_OBJECT

public:
    explicit SelectDataDir(QWidget *parent = nullptr);
    ~SelectDataDir() override;

    // Steps to the next set like next(); false when the last set was current.
    bool advance();
    // Energy of the current set in eV (sub-directory layout: the energy rule on
    // the directory name, times 1000 for "keV"); 0 without a current set.
    double currentEnergy() const;
    // The energy text of the current set, or the sub-directory name; empty
    // without a current set.
    QString currentTag() const;

    bool isASRStandard() const;
    QString dirName() const;
    QString pattern() const;
    void setPattern(const QString &p);
    int currentIndex() const;
    int count() const;
    QStringList entries() const;
    // Points the directory dialog at dir and takes dir as the chosen data
    // directory, as a choice in the dialog does.
    void setDataDir(const QString &dir);

signals:
    void newSets(int items);
    void selected(QString dir, QStringList patterns);
    void selectedFileInfoList(QFileInfoList fileInofs);
    void noMoreSets();

public slots:
    void setIsASRStandard(bool f);
    void set();
    void next();
    void setFirstSet(int firstIdx);
    void setNextSet(int lastIdx);

private slots:
    void aDirSelected(const QString &dir);
    void changedASRStd();
    void setSubDirs(const QString &dir);
    void setFileSets(const QString &dir);

private:
    void listFileSets();
    bool indexInFileSets(int i) const { return i >= 0 && i < int(fileSets.size()); }
    bool indexInSubDirs(int i) const { return i >= 0 && i < subDirNames.size(); }

    std::unique_ptr<Ui::SelectDataDir> ui;
    std::vector<std::unique_ptr<CtFileSet>> fileSets;
    QStringList subDirNames;
    // Which list SubDirs shows at the moment: a switch of layout onto a
    // directory without matching files keeps the old sets, which must then be
    // listed again so that the entries and the sets agree.
    bool listsFileSets = false;
};
