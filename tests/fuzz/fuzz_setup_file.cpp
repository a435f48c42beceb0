// The setup reader: every line of a setup file becomes a command. A setup
// written from the values read back must read back to the same values (the
// key column and the quoting of values that hold white space).
#include "tests/fuzz/fuzz_support.h"

#include "app/setup_file.h"

#include <QVector>

namespace {

bool isItemSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || (u >= u'\t' && u <= u'\r');
}

// Setup files are UTF-8: text with an unpaired surrogate (read, say, from a
// file that claimed to be UTF-16) has no UTF-8 form and cannot come back.
bool encodable(const QString &v) { return QString::fromUtf8(v.toUtf8()) == v; }

// A value survives the round trip when it is not empty, holds no double quote
// and no line break (a setup line is one text line).
bool writable(const QString &v)
{
    return !v.isEmpty() && !v.contains(QLatin1Char('"')) && !v.contains(QLatin1Char('\n'))
        && !v.contains(QLatin1Char('\r')) && encodable(v);
}

bool writableKey(const QString &k)
{
    if (k.isEmpty() || k.contains(QLatin1Char('"')) || !encodable(k))
        return false;
    for (const QChar c : k)
        if (isItemSpace(c))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeInput(data, size, "in.setup");
    QVector<BatchCmd> cmds;
    FUZZ_CHECK(SetupFile::read(path, cmds));

    SetupFile::Section section { QStringLiteral("## Original Images"), {} };
    for (const BatchCmd &c : cmds) {
        if (!writableKey(c.cmd) || c.cmd.startsWith(QLatin1Char('#')))
            continue;
        SetupFile::Item item { c.cmd, {} };
        bool ok = true;
        for (const QString &a : c.args)
            ok = ok && writable(a);
        if (!ok)
            continue;
        item.values = c.args;
        section.items << item;
    }
    const QString out = fuzz::scratchDir().filePath(QStringLiteral("out.setup"));
    FUZZ_CHECK(SetupFile::write(out, { section }));
    QVector<BatchCmd> back;
    FUZZ_CHECK(SetupFile::read(out, back));
    QVector<BatchCmd> keyed;
    for (const BatchCmd &c : back)
        if (!c.cmd.isEmpty() && !c.cmd.startsWith(QLatin1Char('#')))
            keyed << c;
    FUZZ_CHECK(keyed.size() == section.items.size());
    for (int i = 0; i < keyed.size(); ++i) {
        FUZZ_CHECK(keyed[i].cmd == section.items[i].key);
        FUZZ_CHECK(keyed[i].args == section.items[i].values);
    }
    return 0;
}
