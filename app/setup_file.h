#pragma once

#include "app/batch_cmd.h"

#include <QString>
#include <QStringList>
#include <QVector>

// The layout of setup files: the state of the controls written as command
// lines, so that loading a setup is executing its lines one after the other.
//
//   ### vorlo2 setup saving setup file
//   <empty line> <section title> <empty line> <key lines>   (four times)
//
// A key line holds the key left-aligned in a column of 25 characters (a
// longer key is followed by one blank), then the values separated by
// blanks. A value that holds white space is written in double quotes so that
// it reads back whole. The main window supplies the items and applies what
// is read back.
class SetupFile {
public:
    struct Item {
        QString key;
        QStringList values;

        static Item flag(const QString &key, bool on); // "1" or "0"
        static Item integer(const QString &key, int v); // decimal
        static Item real(const QString &key, double v); // 6 significant digits
        static Item text(const QString &key, const QString &v); // unchanged
        // The absolute directory of a file and "*." with its suffix: the
        // files of a set written as the directory and pattern they came from.
        static Item dirAndSuffix(const QString &key, const QString &firstFile);
    };

    struct Section {
        QString title;
        QVector<Item> items;
    };

    static const QString header;
    static constexpr int keyColumn = 25;

    // The four section titles, in the order they are written.
    static QStringList sectionTitles();

    // A number as a text stream writes a double by default (1023.5, 0.05, 1e-07).
    static QString number(double v);
    static QString formatValue(const QString &v);
    static QString formatLine(const Item &item);

    // Writes header and sections; false (and a log line) when the file cannot
    // be opened or written. An existing file is replaced only once the new one
    // has been written completely.
    static bool write(const QString &fname, const QVector<Section> &sections);

    // Every line of the file as a command, header, titles and empty lines
    // included (they match no command). No comment is removed: a line whose
    // first item begins with # is a command word that matches nothing. False
    // (and a log line) when the file cannot be opened; cmds is then unchanged.
    static bool read(const QString &fname, QVector<BatchCmd> &cmds);
};
