#include "app/app.h"

#include <QApplication>
#include <QFont>

#include "app/main_window.h"
#include "app/skin.h"

namespace skiv::app {

void App::Configure() {
    QApplication::setApplicationName(QStringLiteral("skivaddon"));
    // The framework's default base key for generated applications; nothing
    // is stored under it.
    QApplication::setOrganizationName(
        QStringLiteral("로컬 응용 프로그램 마법사에서 생성한 응용 프로그램"));
    QApplication::setFont(Skin::TextFont());
    QApplication::setWindowIcon(Skin::Instance().AppIcon());
}

int App::Run(int argc, char** argv) {
    QApplication app(argc, argv);
    Configure();
    int status = 0;
    {
        MainWindow window(Skin::Instance(), ServiceConfig::FromEnvironment(),
                          OperationLog::DefaultFolder());
        window.exec();  // the result of the modal run is not used
    }
    return status;
}

}  // namespace skiv::app
