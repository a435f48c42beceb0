#include "ct/saving_data.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

QString savingSliceLabel(int slice) { return QString::asprintf("%05d", slice); }

QString savingFileName(
    const QString &name, const QString &tag, const QString &slice, const QString &ext)
{
    return QStringLiteral("%1-%2-%3.%4").arg(name, tag, slice, ext);
}

namespace {

// Longest %g text with 6 significant digits: "-1.23457e+308" (13 chars).
constexpr int maxDoubleChars = 24;
constexpr int maxIntChars = 12;

inline char *putDouble(char *p, double v)
{
    // std::to_chars in general format with a precision is defined as printf's %g.
    return std::to_chars(p, p + maxDoubleChars, v, std::chars_format::general, 6).ptr;
}

inline char *putInt(char *p, int v) { return std::to_chars(p, p + maxIntChars, v).ptr; }

inline char *putText(char *p, const char *s)
{
    const size_t len = std::strlen(s);
    std::memcpy(p, s, len);
    return p + len;
}

// First index of a loop "from trunc(a) while i < b" that lies in [0, n), and
// the end of it; both clamped so that no out-of-range double reaches an int.
void gridSpan(double a, double b, int n, int &first, int &end)
{
    first = 0;
    end = 0;
    if (!(std::isfinite(a)) || std::isnan(b) || n <= 0)
        return;
    const double t = std::trunc(a);
    first = t <= 0.0 ? 0 : (t >= n ? n : int(t));
    // i < b for integer i means i <= ceil(b) - 1.
    const double e = std::ceil(b);
    end = e <= 0.0 ? 0 : (e >= n ? n : int(e));
    if (end < first)
        end = first;
}

} // namespace

QByteArray makeCtImgData(const double *result, int n, double x0, double z0, double x1, double z1,
    const CtImgDataLimits &limits)
{
    int xa, xb, za, zb;
    gridSpan(x0, x1, result ? n : 0, xa, xb);
    gridSpan(z0, z1, result ? n : 0, za, zb);

    const qsizetype header = 6 * (20 + 4 * maxDoubleChars + 4);
    // Per pixel line: two integers, a value, two tabs and a line feed.
    const qsizetype perLine = 2 * maxIntChars + maxDoubleChars + 3;
    const qsizetype lines = qsizetype(xb - xa) * qsizetype(zb - za);
    QByteArray out;
    out.resize(header + lines * perLine);
    char *const begin = out.data();
    char *p = begin;

    const double region[4] = { x0, z0, x1, z1 };
    const char *labels[4] = {
        "# Range_X0       : ", "# Range_Y0       : ", "# Range_X1       : ", "# Range_Y1       : "
    };
    p = putText(p, "#VRLO-CTImg\n");
    for (int i = 0; i < 4; ++i) {
        p = putText(p, labels[i]);
        p = putDouble(p, region[i]);
        *p++ = '\n';
    }
    p = putText(p, "# sx,sy, ex,ey   : ");
    for (int i = 0; i < 4; ++i) {
        if (i > 0)
            *p++ = '\t';
        p = putDouble(p, region[i]);
    }
    *p++ = '\n';

    // The z column text is the same along a row: format it once per row.
    for (int z = za; z < zb; ++z) {
        const double *row = result + qsizetype(z) * n;
        char zText[maxIntChars];
        const int zLen = int(putInt(zText, z) - zText);
        for (int x = xa; x < xb; ++x) {
            const double v = row[x];
            const double kept = (v < limits.lowerLimit || v > limits.upperLimit) ? 0.0 : v;
            p = putInt(p, x);
            *p++ = '\t';
            std::memcpy(p, zText, size_t(zLen));
            p += zLen;
            *p++ = '\t';
            p = putDouble(p, limits.offset + kept);
            *p++ = '\n';
        }
    }
    out.resize(p - begin);
    return out;
}
