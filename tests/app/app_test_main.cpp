// Runs every window test class in one process on the offscreen platform.

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

#include "app/app.h"
#include "app_tests.h"

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The controller reads the game's registry from the Wine prefix: give
    // it an empty one so that no user setup leaks into the tests.
    QTemporaryDir prefix;
    qputenv("WINEPREFIX", prefix.path().toUtf8());
    QApplication app(argc, argv);
    skiv::app::App::Configure();
    int failed = 0;
    for (auto run : skiv::app::test::AllTests())
        failed += run(argc, argv);
    return failed == 0 ? 0 : 1;
}
