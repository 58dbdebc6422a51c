// A Qt host: one call runs Brenvo from Qt's event loop and shows its window over the host's.
#include "brenvo/Brenvo.h"
#include "brenvo/platform/qt/QtHost.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QMainWindow window;
    brenvo::platform::attachQtHost(&window); // the agent's timers and window now live in Qt
    brenvo::Brenvo agent;                    // reads the Info.plist beside the executable
    window.show();
    return app.exec();
}
