#include "cli/commandline.h"
#include "ui/frmmain.h"
#include "ui/frmstart.h"

#include <QApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    const bool commandLine = Scan::CommandLine::wanted(argc, argv);
    if (commandLine)
        Scan::CommandLine::prepareHeadless();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quellmail"));
    QApplication::setApplicationVersion(QStringLiteral(QUELLMAIL_VERSION));
    if (commandLine) {
        QTextStream out(stdout);
        QTextStream err(stderr);
        return Scan::CommandLine::run(QCoreApplication::arguments(), out, err);
    }
    // The program ends only through a confirmed exit, never because its
    // last visible window went away (it lives in the tray).
    QApplication::setQuitOnLastWindowClosed(false);

    frmStart start(QCoreApplication::applicationDirPath());
    start.Form_Load();
    if (start.mainWindow().isEnding())
        return 0;
    return app.exec();
}
