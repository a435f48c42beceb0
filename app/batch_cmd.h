#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// One command line split into its command word and arguments. It travels by
// value in queued signals (registered as "BatchCmd").
//
// Items are split like every other line of the program: white space
// separates them, double quotes hold blanks, and an empty quoted item ends
// the argument list. No comment is removed here.
struct BatchCmd {
    QString line; // the whole line as given
    QString cmd; // the command word
    QStringList args; // the items after it

    BatchCmd() = default;
    explicit BatchCmd(const QString &text);

    // True when the command word equals key in any letter case (both are
    // upper-cased, as the command table compares them).
    bool matches(const QString &key) const;

    // The arguments joined with single blanks (a conditional line re-parses it).
    QString argsLine() const;

    // Argument conversions of the command table. Missing arguments and text
    // that is not a number read as 0 (or false, or an empty text).
    bool flag() const; // argument 0 is exactly the integer 1
    int intArg(int i) const; // base 10, 32 bits
    double realArg(int i) const; // C locale; infinities and NaN read as 0
    QString text() const; // argument 0 unchanged

    // Registers the type for queued connections; safe to call more than once.
    static void registerType();
};

Q_DECLARE_METATYPE(BatchCmd)
