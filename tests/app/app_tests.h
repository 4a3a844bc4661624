#pragma once
// The window test classes; each source file adds its runner.

#include <QString>
#include <functional>
#include <vector>

namespace skiv::app::test {

using TestRunner = int (*)(int argc, char** argv);

std::vector<TestRunner>& AllTests();

struct RegisterTest {
    explicit RegisterTest(TestRunner run) { AllTests().push_back(run); }
};

}  // namespace skiv::app::test

#define SKIV_APP_TEST(Class)                       \
    static int Run##Class(int argc, char** argv) { \
        Class t;                                   \
        return QTest::qExec(&t, argc, argv);       \
    }                                              \
    static const ::skiv::app::test::RegisterTest kRegister##Class(&Run##Class)
