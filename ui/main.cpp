#include "frmmain.h"
#include "frmstart.h"

#include <QApplication>

#ifdef QUELLMAIL_HAVE_SCAN
#include "module_scan.h"
#endif

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quellmail"));
    // The program ends only through a confirmed exit, never because its
    // last visible window went away (it lives in the tray).
    QApplication::setQuitOnLastWindowClosed(false);

    frmStart start(QCoreApplication::applicationDirPath());
    start.setMainWindowSetup([](frmMain &form) {
#ifdef QUELLMAIL_HAVE_SCAN
        form.setScanProcedure([&form] { ScanMailboxes(form); });
#else
        Q_UNUSED(form)
#endif
    });
    start.Form_Load();
    if (start.mainWindow().isEnding())
        return 0;
    return app.exec();
}
