#pragma once
// Every test folder builds one program; each test file adds its QObject test
// class with VORLO_TEST(Class) and the shared main runs all of them in turn.
#include <QObject>
#include <functional>
#include <utility>
#include <vector>

namespace testreg {
using Factory = std::function<QObject *()>;
std::vector<std::pair<const char *, Factory>> &registry();
struct Add {
    Add(const char *name, Factory f) { registry().emplace_back(name, std::move(f)); }
};
} // namespace testreg

#define VORLO_TEST(Class) \
    static testreg::Add vorloTestAdd_##Class(#Class, []() -> QObject * { return new Class; });
