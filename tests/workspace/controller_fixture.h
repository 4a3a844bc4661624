#pragma once
// A controller wired to a scripted window and a log in a temp folder, with a
// game folder of its own.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_window.h"
#include "support/log_lines.h"
#include "support/temp_dir.h"
#include "workspace/controller.h"

namespace skiv::test {

class ControllerFixture : public ::testing::Test {
protected:
    ControllerFixture() {
        log.SetFolder(logDir.path());
        game = gameDir.path();
        ctl.Session().gameFolder = game;
    }

    // Every line written to the log so far, without the time stamps.
    std::vector<std::string> LogLines() const { return LogLinesIn(logDir.path()); }

    TempDir logDir, gameDir;
    std::string game;
    OperationLog log;
    FakeWindow window;
    Controller ctl{window, log, ServiceConfig{"https://127.0.0.1:1"}};
};

}  // namespace skiv::test
