#include "app/batch_cmd.h"

#include "util/text_util.h"

#include <cmath>

BatchCmd::BatchCmd(const QString &text)
    : line(text)
{
    QString rest = takeFirstItem(text, cmd);
    QString item = cmd;
    while (!item.isEmpty()) {
        rest = takeFirstItem(rest, item);
        if (!item.isEmpty())
            args << item;
    }
}

bool BatchCmd::matches(const QString &key) const { return cmd.toUpper() == key.toUpper(); }

QString BatchCmd::argsLine() const { return args.join(QLatin1Char(' ')); }

bool BatchCmd::flag() const { return intArg(0) == 1; }

int BatchCmd::intArg(int i) const
{
    if (i < 0 || i >= args.size())
        return 0;
    bool ok = false;
    const int v = args.at(i).toInt(&ok, 10);
    return ok ? v : 0;
}

double BatchCmd::realArg(int i) const
{
    if (i < 0 || i >= args.size())
        return 0.0;
    bool ok = false;
    const double v = args.at(i).toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

QString BatchCmd::text() const { return args.isEmpty() ? QString() : args.first(); }

void BatchCmd::registerType() { qRegisterMetaType<BatchCmd>("BatchCmd"); }
