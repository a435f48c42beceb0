#include "select/ct_file_set.h"

namespace {
// The text before the last '-', or the whole text when there is none.
QString beforeLastDash(const QString &s)
{
    const int i = s.lastIndexOf('-');
    return i < 0 ? s : s.left(i);
}

QString afterLastDash(const QString &s)
{
    const int i = s.lastIndexOf('-');
    return i < 0 ? s : s.mid(i + 1);
}
} // namespace

double energyOfName(const QString &token, QString *unit)
{
    int last = -1;
    for (int i = token.size() - 1; i >= 0; --i) {
        const QChar c = token.at(i);
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            last = i;
            break;
        }
    }
    if (unit)
        *unit = token.mid(last + 1);
    if (last < 0)
        return 0;
    QString number = token.left(last + 1);
    number.replace('_', '.');
    bool ok = false;
    const double v = number.toDouble(&ok);
    return ok ? v : 0;
}

double unitFactorOf(const QString &unit)
{
    return unit.toUpper() == QLatin1String("KEV") ? 1000.0 : 1.0;
}

CtFileSet::CtFileSet(const QFileInfo &first)
    : firstFileName(first.fileName()),
      setKey(beforeLastDash(firstFileName)),
      sampleName(beforeLastDash(setKey)),
      energyText(afterLastDash(setKey))
{
    energyValue = energyOfName(energyText, &unitText);
    unitFactor = unitFactorOf(unitText);
    files << first;
}

CtFileSet::~CtFileSet() = default;

QString CtFileSet::setKeyOf(const QString &fileName)
{
    return beforeLastDash(fileName);
}

bool CtFileSet::addIfSameSet(const QFileInfo &info)
{
    if (setKeyOf(info.fileName()) != setKey)
        return false;
    files << info;
    return true;
}
