#include "util/data_root.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex &rootMutex()
{
    static QMutex m;
    return m;
}

// Until start-up says otherwise, the choosers open in the user's home.
QString &rootValue()
{
    static QString root = QDir::homePath();
    return root;
}

} // namespace

QString dataRoot()
{
    QMutexLocker lock(&rootMutex());
    return rootValue();
}

void setDataRoot(const QString &dir)
{
    QMutexLocker lock(&rootMutex());
    rootValue() = dir;
}
