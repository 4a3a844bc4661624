// skivaddon: the desktop window.

#include "app/app.h"

int main(int argc, char** argv) {
    return skiv::app::App::Run(argc, argv);
}
