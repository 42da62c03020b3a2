#include <cstdio>

#include <QApplication>

#include "app/CFundApp.h"

int main(int argc, char* argv[]) {
    // Without a display Qt would abort with a terse message; say what is missing instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr,
                     "Zeza needs a graphical display: set DISPLAY or WAYLAND_DISPLAY, "
                     "or QT_QPA_PLATFORM (for example QT_QPA_PLATFORM=offscreen).\n");
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zeza"));
    zeza::CFundApp::LoadQtTranslations();

    zeza::CFundApp theApp;
    theApp.InitInstance();
    return 0;
}
