// skivaddon: the desktop window.

#include "app/addon_app.h"

int main(int argc, char** argv) {
    return skiv::app::CAddOnApp::Run(argc, argv);
}
