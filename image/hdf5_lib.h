#pragma once
// Access to the HDF5 C library from any thread of the program.
//
// Debian's serial HDF5 is built without its thread-safety option, so two
// threads must never be inside the library at once: readers run in the
// calculators' threads, the volume writer in the saver's thread. Every HDF5
// call of the program is made while an Hdf5Lock is held. The lock is
// recursive, so a function that holds it may call another that takes it.
//
// The library's own error printing (to stderr) is replaced, on first use, by
// a walk of its error stack into the trace category: a refused file gets the
// program's one log line, and the library's details are there with -v.
#include <hdf5.h>

#include <QString>
#include <mutex>

class Hdf5Lock {
public:
    Hdf5Lock();
    ~Hdf5Lock();
    Hdf5Lock(const Hdf5Lock &) = delete;
    Hdf5Lock &operator=(const Hdf5Lock &) = delete;

private:
    std::unique_lock<std::recursive_mutex> lock;
};

// Whether the linked library says it is thread-safe (it is used as if not).
bool hdf5LibraryThreadSafe();

// Closes an HDF5 identifier of any kind when it goes out of scope. Must be
// destroyed while an Hdf5Lock is held.
class Hdf5Id {
public:
    Hdf5Id() = default;
    explicit Hdf5Id(hid_t id)
        : id_(id)
    {
    }
    ~Hdf5Id() { reset(); }
    Hdf5Id(const Hdf5Id &) = delete;
    Hdf5Id &operator=(const Hdf5Id &) = delete;
    Hdf5Id(Hdf5Id &&o) noexcept
        : id_(o.id_)
    {
        o.id_ = -1;
    }
    Hdf5Id &operator=(Hdf5Id &&o) noexcept
    {
        if (this != &o) {
            reset();
            id_ = o.id_;
            o.id_ = -1;
        }
        return *this;
    }
    void reset(hid_t id = -1);
    // Gives up the identifier without closing it (the caller closes it).
    hid_t release()
    {
        const hid_t id = id_;
        id_ = -1;
        return id;
    }
    hid_t get() const { return id_; }
    bool valid() const { return id_ >= 0; }
    operator hid_t() const { return id_; }

private:
    hid_t id_ = -1;
};

// True when a link of this path exists in the file and leads to an object
// (every group on the way must exist: checked one level at a time).
bool hdf5PathExists(hid_t file, const char *path);
// The text of a string attribute of an object, or an empty string.
QString hdf5StringAttribute(hid_t object, const char *name);
