#include "tests/test_registry.h"

#ifdef VORLO_TEST_NO_WIDGETS
#include <QGuiApplication>
#else
#include <QApplication>
#endif
#include <QLoggingCategory>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <memory>

namespace testreg {
std::vector<std::pair<const char *, Factory>> &registry()
{
    static std::vector<std::pair<const char *, Factory>> r;
    return r;
}
} // namespace testreg

// Usage: tests_x [--only ClassName] [QTest options...]
int main(int argc, char **argv)
{
#ifdef VORLO_TEST_NO_WIDGETS
    QGuiApplication app(argc, argv); // programs that link no Qt Widgets
#else
    QApplication app(argc, argv);
#endif
    // The tests check the routine trace lines as well: on, as with -v.
    QLoggingCategory::setFilterRules(QStringLiteral("vorlo2.trace.debug=true"));
    const char *only = nullptr;
    std::vector<char *> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
            continue;
        }
        args.push_back(argv[i]);
    }
    int failed = 0;
    int run = 0;
    for (auto &entry : testreg::registry()) {
        if (only && std::strcmp(only, entry.first) != 0)
            continue;
        std::unique_ptr<QObject> obj(entry.second());
        ++run;
        if (QTest::qExec(obj.get(), int(args.size()), args.data()) != 0)
            ++failed;
    }
    std::printf("%d test classes run, %d failed\n", run, failed);
    return failed == 0 && run > 0 ? 0 : 1;
}
