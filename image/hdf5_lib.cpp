#include "image/hdf5_lib.h"

#include "util/trace_log.h"

#include <QByteArray>
#include <QDebug>
#include <vector>

namespace {

std::recursive_mutex &libMutex()
{
    static std::recursive_mutex m;
    return m;
}

herr_t logErrorEntry(unsigned n, const H5E_error2_t *e, void *)
{
    qCDebug(vorloTrace).noquote() << QStringLiteral("HDF5 #%1 %2: %3")
                                         .arg(n)
                                         .arg(QString::fromUtf8(e->func_name ? e->func_name : ""))
                                         .arg(QString::fromUtf8(e->desc ? e->desc : ""));
    return 0;
}

herr_t logErrorStack(hid_t stack, void *)
{
    H5Ewalk2(stack, H5E_WALK_DOWNWARD, logErrorEntry, nullptr);
    return 0;
}

void routeErrors()
{
    static std::once_flag once;
    bool first = false;
    std::call_once(once, [&] {
        H5open();
        first = true;
    });
    // Set at every entry: it costs little, a thread-safe library keeps one
    // setting per thread, and nothing else in the process can turn the
    // library's printing back on behind the program's back.
    H5Eset_auto2(H5E_DEFAULT, logErrorStack, nullptr);
    if (first)
        qCDebug(vorloTrace) << "HDF5 library thread-safe :" << hdf5LibraryThreadSafe()
                            << "(every call is serialised)";
}

} // namespace

Hdf5Lock::Hdf5Lock()
    : lock(libMutex())
{
    routeErrors();
}

Hdf5Lock::~Hdf5Lock() = default;

bool hdf5LibraryThreadSafe()
{
    hbool_t ts = false;
    if (H5is_library_threadsafe(&ts) < 0)
        return false;
    return ts;
}

void Hdf5Id::reset(hid_t id)
{
    if (id_ >= 0) {
        switch (H5Iget_type(id_)) {
        case H5I_FILE:
            H5Fclose(id_);
            break;
        case H5I_GROUP:
            H5Gclose(id_);
            break;
        case H5I_DATASET:
            H5Dclose(id_);
            break;
        case H5I_DATASPACE:
            H5Sclose(id_);
            break;
        case H5I_DATATYPE:
            H5Tclose(id_);
            break;
        case H5I_ATTR:
            H5Aclose(id_);
            break;
        case H5I_GENPROP_LST:
            H5Pclose(id_);
            break;
        default:
            H5Idec_ref(id_);
            break;
        }
    }
    id_ = id;
}

bool hdf5PathExists(hid_t file, const char *path)
{
    const QByteArray p(path);
    const QList<QByteArray> parts = p.split('/');
    QByteArray sofar;
    for (const QByteArray &part : parts) {
        if (part.isEmpty())
            continue;
        sofar += '/' + part;
        if (H5Lexists(file, sofar.constData(), H5P_DEFAULT) <= 0)
            return false;
        if (H5Oexists_by_name(file, sofar.constData(), H5P_DEFAULT) <= 0)
            return false;
    }
    return !sofar.isEmpty();
}

QString hdf5StringAttribute(hid_t object, const char *name)
{
    if (H5Aexists(object, name) <= 0)
        return QString();
    Hdf5Id attr(H5Aopen(object, name, H5P_DEFAULT));
    if (!attr.valid())
        return QString();
    Hdf5Id type(H5Aget_type(attr));
    if (!type.valid() || H5Tget_class(type) != H5T_STRING)
        return QString();
    Hdf5Id space(H5Aget_space(attr));
    if (!space.valid() || H5Sget_simple_extent_npoints(space) != 1)
        return QString();
    if (H5Tis_variable_str(type) > 0) {
        Hdf5Id mem(H5Tcopy(H5T_C_S1));
        H5Tset_size(mem, H5T_VARIABLE);
        H5Tset_cset(mem, H5Tget_cset(type)); // the library converts no character set
        char *text = nullptr;
        if (H5Aread(attr, mem, &text) < 0 || !text)
            return QString();
        const QString s = QString::fromUtf8(text);
        H5free_memory(text);
        return s;
    }
    const size_t size = H5Tget_size(type);
    if (size == 0 || size > (1u << 20))
        return QString();
    std::vector<char> buf(size + 1, '\0');
    Hdf5Id mem(H5Tcopy(H5T_C_S1));
    H5Tset_size(mem, size + 1);
    H5Tset_cset(mem, H5Tget_cset(type));
    if (H5Aread(attr, mem, buf.data()) < 0)
        return QString();
    return QString::fromUtf8(buf.data());
}
