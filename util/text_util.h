#pragma once

#include <QString>
#include <QStringList>

// Line splitting shared by every line-oriented reader and writer of the
// program (configuration, batch and setup files, ITEX headers, the analyser
// address, the data-set list).
//
// An item is a run of characters without white space, or any text enclosed
// in double quotes. White space is exactly the six ASCII characters space,
// \t, \n, \v, \f and \r; every other character (U+00A0 and U+3000 included)
// belongs to an item. There is no escape character.

// The part of the line before the first # that stands outside quotes (both '
// and " open and close quotes, sharing one flag). When a # was found the text
// after it is stored in comment; otherwise comment is left alone.
QString splitComment(const QString &line, QString &comment);
QString removeComment(const QString &line);

// True when the line, comment removed, holds nothing but (Unicode) white space.
bool isBlankLine(const QString &line);

// Takes the first item of the line into item and returns the rest after it.
// The white space that follows an unquoted item stays at the front of the
// rest. Unbalanced quotes are logged and split leniently.
QString takeFirstItem(const QString &line, QString &item);

// True when the first key.size() characters of the line equal the key exactly.
bool startsWithKey(const QString &line, const QString &key);

// Every item of the text after the first key.size() characters, empty ones
// included (a trailing blank yields a final empty item). The key itself is
// not compared: test startsWithKey first.
QStringList itemsAfterKey(const QString &line, const QString &key);

// True when the last non-white-space character is a backslash; the line is
// then cut just before it (white space before the backslash stays).
bool endsWithContinuationMark(QString &line);

// n spaces, at most 101; a negative n also gives 101.
QString spaces(int n);

// The text followed by enough spaces to fill width (at most 101 are added).
QString padRight(const QString &text, int width);
