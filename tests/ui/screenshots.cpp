// Writes one picture of the main window per tab into the folder given as
// the only argument, with a little sample data so the lists are not empty.

#include "ui/frmmain.h"
#include "platform/messagebox/messagebox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        qWarning("usage: quellmail_screenshots <output folder>");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(output);
    MessageBox::setTestMode(true);

    QTemporaryDir folder;
    writeFile(folder.filePath(u"accounts.dat"_s),
              "mail.example.org,alice,secret\r\npop.example.net,bob.smith,hunter2\r\n");
    writeFile(folder.filePath(u"whitelist.dat"_s), "friend@example.org\r\nnewsletter@example.com\r\n");
    writeFile(folder.filePath(u"blacklist.dat"_s), "bulkmailer.example\r\noffers@spam.example\r\n");
    writeFile(folder.filePath(u"keywords.dat"_s), "free money\r\nact now\r\nwinner\r\n");
    writeFile(folder.filePath(u"stats.dat"_s),
              "2\r\n2\r\n2\r\n3\r\n17\r\n1284\r\n 1 \r\n15\r\n 1 \r\n 1 \r\n 0 \r\n 1 \r\n");
    writeFile(folder.filePath(u"index.html"_s),
              "<html><body><h2>Quellmail</h2><p>Quellmail checks your POP3 mailboxes and removes "
              "spam before it reaches your inbox.</p><p>Add your accounts on the Accounts tab, then "
              "choose the filters on the Settings tab and press <b>Save Settings</b>.</p></body></html>");

    frmMain form(folder.path());
    form.setTrayAvailabilityCheck([] { return true; });
    form.runLoadSequence();

    const char *names[] = {"accounts", "whitelist", "blacklist", "keywords", "settings", "help"};
    int written = 0;
    auto *tabs = form.findChild<QTabWidget *>(u"SSTab1"_s);
    for (int tab = 0; tab < tabs->count() && tab < 6; ++tab) {
        tabs->setCurrentIndex(tab);
        QApplication::processEvents();
        const QString path = output + u"/main-window-"_s + QString::fromLatin1(names[tab]) + u".png"_s;
        if (form.grab().save(path))
            ++written;
    }
    return written == 6 ? 0 : 1;
}
