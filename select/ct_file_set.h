#pragma once

#include <QFileInfo>
#include <QFileInfoList>
#include <QString>

// The energy rule for tokens such as "7112_5eV" or "7.1125keV": the text up
// to and including the last decimal digit, with every '_' read as a decimal
// point, as a number (0 when it is none or has no digit). The rest after the
// last digit is the unit, returned through unit when given.
double energyOfName(const QString &token, QString *unit = nullptr);
// 1000 for a unit "keV" (any letter case), else 1: the factor to electronvolts.
double unitFactorOf(const QString &unit);

// One data set of the ASR-standard layout, where every file of a measurement
// lies in one directory and is named <sample>-<energy>-<number>.<suffix>.
// Consecutive files (in name order) with the same text before the last '-'
// form one set.
class CtFileSet
{
public:
    explicit CtFileSet(const QFileInfo &first);
    virtual ~CtFileSet();

    // The part of a file name before its last '-' (the whole name without one).
    static QString setKeyOf(const QString &fileName);
    // Appends info when it belongs to this set; false otherwise.
    bool addIfSameSet(const QFileInfo &info);
    double energyInEV() const { return energyValue * unitFactor; }

    QString firstFileName; // file name without directory
    QString setKey;        // firstFileName up to its last '-'
    QString sampleName;    // setKey up to its last '-'
    QString energyText;    // between the last two '-' of firstFileName
    double energyValue = 0;
    double unitFactor = 1; // 1000 for keV
    QString unitText;      // energyText after its last decimal digit
    QFileInfoList files;   // in name order
};
