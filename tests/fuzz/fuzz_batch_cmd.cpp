// The command-line parser of the command table: a line becomes a command
// word and its arguments, and the argument conversions read bad numbers as 0.
#include "tests/fuzz/fuzz_support.h"

#include "app/batch_cmd.h"
#include "util/text_util.h"

#include <cmath>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString line = fuzz::utf8(data, size);
    const BatchCmd cmd(line);
    FUZZ_CHECK(cmd.line == line);
    QString first;
    takeFirstItem(line, first);
    FUZZ_CHECK(cmd.cmd == first);
    FUZZ_CHECK(cmd.args.size() <= line.size());
    for (const QString &a : cmd.args)
        FUZZ_CHECK(!a.isEmpty());
    FUZZ_CHECK(cmd.cmd.isEmpty() ? cmd.args.isEmpty() : true);
    FUZZ_CHECK(cmd.matches(cmd.cmd.toLower()) && cmd.matches(cmd.cmd.toUpper()));
    for (int i = -1; i <= cmd.args.size(); ++i) {
        cmd.intArg(i);
        FUZZ_CHECK(std::isfinite(cmd.realArg(i)));
    }
    FUZZ_CHECK(cmd.flag() == (cmd.intArg(0) == 1));
    FUZZ_CHECK(cmd.text() == (cmd.args.isEmpty() ? QString() : cmd.args.first()));

    // A conditional line re-parses its arguments; quoting is lost on the way,
    // but never more items appear than there are characters.
    const BatchCmd again(cmd.argsLine());
    FUZZ_CHECK(again.args.size() <= cmd.argsLine().size());
    return 0;
}
