#include "frmmain.h"

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

    frmMain form(QCoreApplication::applicationDirPath());
#ifdef QUELLMAIL_HAVE_SCAN
    form.setScanProcedure([&form] { ScanMailboxes(form); });
#endif
    form.runLoadSequence();
    if (form.isEnding())
        return 0;
    return app.exec();
}
