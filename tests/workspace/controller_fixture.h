#pragma once
// A controller wired to a scripted window and a log in a temp folder, with a
// game folder of its own.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "support/fake_window.h"
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
    std::vector<std::string> LogLines() const {
        std::vector<std::string> out;
        auto listing = fs::DirListing::Open(logDir.path());
        fs::DirItem item;
        while (listing && listing->Next(item)) {
            if (item.isFolder)
                continue;
            std::istringstream in(ReadFile(logDir / item.name));
            for (std::string line; std::getline(in, line);)
                out.push_back(line.substr(20));
        }
        return out;
    }

    TempDir logDir, gameDir;
    std::string game;
    OperationLog log;
    FakeWindow window;
    Controller ctl{window, log, ServiceConfig{"https://127.0.0.1:1"}};
};

}  // namespace skiv::test
