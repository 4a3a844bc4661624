#include "app/addon_app.h"

#include <QApplication>
#include <QFont>

#include "app/addon_dlg.h"
#include "app/skin.h"

namespace skiv::app {

void CAddOnApp::InitInstance() {
    QApplication::setApplicationName(QStringLiteral("skivaddon"));
    // The framework's default base key for generated applications; nothing
    // is stored under it.
    QApplication::setOrganizationName(
        QStringLiteral("로컬 응용 프로그램 마법사에서 생성한 응용 프로그램"));
    QApplication::setFont(CSkin::TextFont());
    QApplication::setWindowIcon(CSkin::Instance().AppIcon());
}

int CAddOnApp::Run(int argc, char** argv) {
    QApplication app(argc, argv);
    InitInstance();
    int status = 0;
    {
        CAddOnDlg dlg(CSkin::Instance(), ServiceConfig::FromEnvironment(),
                      OperationLog::DefaultFolder());
        dlg.exec();  // the result of the modal run is not used
    }
    return status;
}

}  // namespace skiv::app
