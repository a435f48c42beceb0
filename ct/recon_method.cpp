#include "ct/recon_method.h"

namespace {
const char *const kNames[reconMethodCount] = { "fbp", "fourier" };
} // namespace

QString reconMethodName(ReconMethod method)
{
    const int i = int(method);
    return (i >= 0 && i < reconMethodCount) ? QString::fromLatin1(kNames[i]) : QString();
}

bool reconMethodFromName(const QString &name, ReconMethod &method)
{
    const QString n = name.trimmed().toLower();
    for (int i = 0; i < reconMethodCount; ++i)
        if (n == QLatin1String(kNames[i])) {
            method = ReconMethod(i);
            return true;
        }
    return false;
}

ReconMethod reconMethodFromIndex(int index)
{
    return (index >= 0 && index < reconMethodCount) ? ReconMethod(index) : ReconMethod::Fbp;
}
