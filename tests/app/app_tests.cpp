#include "app_tests.h"

namespace skiv::app::test {

std::vector<TestRunner>& AllTests() {
    static std::vector<TestRunner> tests;
    return tests;
}

}  // namespace skiv::app::test
