#include "frmmain.h"
#include "frmstart.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quellmail"));
    // The program ends only through a confirmed exit, never because its
    // last visible window went away (it lives in the tray).
    QApplication::setQuitOnLastWindowClosed(false);

    frmStart start(QCoreApplication::applicationDirPath());
    start.Form_Load();
    if (start.mainWindow().isEnding())
        return 0;
    return app.exec();
}
