#include "util/text_util.h"

#include <QDebug>

namespace {

bool isItemSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || (u >= u'\t' && u <= u'\r');
}

// Index of the first white-space character at or after from, or -1.
qsizetype findSpace(const QString &s, qsizetype from)
{
    for (qsizetype i = from; i < s.size(); ++i)
        if (isItemSpace(s.at(i)))
            return i;
    return -1;
}

qsizetype findNonSpace(const QString &s, qsizetype from)
{
    for (qsizetype i = from; i < s.size(); ++i)
        if (!isItemSpace(s.at(i)))
            return i;
    return -1;
}

constexpr int spaceStockLength = 101;

const QString &spaceStock()
{
    static const QString stock(spaceStockLength, QLatin1Char(' '));
    return stock;
}

} // namespace

QString splitComment(const QString &line, QString &comment)
{
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"') || c == QLatin1Char('\''))
            inQuotes = !inQuotes;
        if (c == QLatin1Char('#') && !inQuotes) {
            comment = line.mid(i + 1);
            return line.left(i);
        }
    }
    return line;
}

QString removeComment(const QString &line)
{
    QString dropped;
    return splitComment(line, dropped);
}

bool isBlankLine(const QString &line) { return removeComment(line).simplified().isEmpty(); }

QString takeFirstItem(const QString &lineIn, QString &item)
{
    const QString line = lineIn; // a shallow copy: item may be the same string
    item.clear();
    const qsizetype s = findNonSpace(line, 0);
    if (s < 0)
        return QString();

    if (line.at(s) == QLatin1Char('"')) {
        const qsizetype q = line.indexOf(QLatin1Char('"'), s + 1);
        if (q < 0) {
            qDebug().noquote() << QString(
                "In a line [%1] item is started from quote but not ended by quote")
                                      .arg(line);
            item = line.mid(s + 1);
            return QString();
        }
        item = line.mid(s + 1, q - s - 1);
        return line.mid(q + 1);
    }

    const qsizetype w = findSpace(line, s);
    QString rest;
    if (w < 0) {
        item = line.mid(s);
    } else {
        item = line.mid(s, w - s);
        rest = line.mid(w);
    }
    if (item.endsWith(QLatin1Char('"')))
        qDebug().noquote() << QString(
            "In a line [%1] item is started from not quote but ended by quote")
                                  .arg(line);
    return rest;
}

bool startsWithKey(const QString &line, const QString &key)
{
    if (line.size() < key.size())
        return false;
    return QStringView(line).left(key.size()) == key;
}

QStringList itemsAfterKey(const QString &line, const QString &key)
{
    QStringList items;
    QString rest = line.mid(key.size());
    QString item;
    while (!rest.isEmpty()) {
        rest = takeFirstItem(rest, item);
        items << item;
    }
    return items;
}

bool endsWithContinuationMark(QString &line)
{
    qsizetype last = line.size() - 1;
    while (last >= 0 && isItemSpace(line.at(last)))
        --last;
    if (last < 0 || line.at(last) != QLatin1Char('\\'))
        return false;
    line.truncate(last);
    return true;
}

QString spaces(int n)
{
    if (static_cast<unsigned>(n) >= static_cast<unsigned>(spaceStockLength))
        return spaceStock();
    return spaceStock().left(n);
}

QString padRight(const QString &text, int width)
{
    if (text.size() >= width)
        return text;
    return text + spaces(static_cast<int>(width - text.size()));
}
