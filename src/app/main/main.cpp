#include <QApplication>
#include <QTimer>

#include "app/Application.h"

int main(int argc, char** argv) {
    vocalynx::prepareDisplayPlatform();
    QApplication qtApp(argc, argv);
    return vocalynx::runApplication(qtApp);
}
