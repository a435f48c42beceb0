#include "ct/cor_series.h"

#include <QDebug>
#include <cmath>

bool corSeries(double from, double to, double step, QVector<double> &out)
{
    out.clear();
    if (!std::isfinite(from) || !std::isfinite(to) || !std::isfinite(step)) {
        qDebug() << "Try CoR refused : a value is not a number :" << from << to << step;
        return false;
    }
    if (step == 0) {
        qDebug() << "Try CoR refused : the step is 0";
        return false;
    }
    if (from != to && (to - from) * step < 0) {
        qDebug() << "Try CoR refused : the step leads away from the last centre :" << from << to
                 << step;
        return false;
    }
    if (std::min(from, to) <= 0) {
        qDebug() << "Try CoR refused : a centre of 0 or less :" << from << to;
        return false;
    }
    // Steps from the first centre to the last, allowing for the rounding of
    // decimal steps such as 0.1.
    const double steps = (to - from) / step;
    if (!(steps < maxCorSeriesCount)) {
        qDebug() << "Try CoR refused : more than" << maxCorSeriesCount << "centres :" << from << to
                 << step;
        return false;
    }
    const int count = int(std::floor(steps + 1e-9)) + 1;
    if (count > maxCorSeriesCount) {
        qDebug() << "Try CoR refused : more than" << maxCorSeriesCount << "centres :" << from << to
                 << step;
        return false;
    }
    out.reserve(count);
    for (int i = 0; i < count; ++i)
        out << from + i * step;
    return true;
}
