// Starts a throw-away Dovecot on loopback holding the demo mailbox and,
// when asked, sets up a program folder to scan it.
//
//   quellmail_demo_server [--program-folder DIR] [--address 127.0.0.1] [--port N]
//
// Prints "port N", "maildir PATH" and "ready" on stdout, then serves until
// its standard input closes or it gets SIGTERM, SIGINT or SIGHUP; then it
// stops the server and removes its files. Exits 77 when Dovecot is missing.

#include "demo/demomailbox.h"
#include "dovecot/dovecotserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

void say(const QString &line)
{
    std::fputs(qPrintable(line + u'\n'), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    // Never outlive the script that started the demo.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"quellmail_demo_server"_s);

    QCommandLineParser parser;
    parser.setApplicationDescription(u"A local POP3 server holding sample mail for the Quellmail demo."_s);
    parser.addHelpOption();
    const QCommandLineOption folderOption(
        u"program-folder"_s, u"Write the demo's accounts, lists and settings into <folder>."_s, u"folder"_s);
    const QCommandLineOption addressOption(u"address"_s, u"Loopback address to listen on."_s, u"address"_s,
                                           u"127.0.0.1"_s);
    const QCommandLineOption portOption(u"port"_s, u"Port to listen on (0: a free one)."_s, u"port"_s, u"0"_s);
    parser.addOptions({folderOption, addressOption, portOption});
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535) {
        std::fputs("quellmail_demo_server: --port takes a number from 0 to 65535\n", stderr);
        return 2;
    }
    const QString address = parser.value(addressOption);
    if (!address.startsWith(u"127."_s)) {
        std::fputs("quellmail_demo_server: the demo server listens on loopback only (127.x.x.x)\n", stderr);
        return 2;
    }
    if (!DovecotServer::isAvailable()) {
        std::fputs("quellmail_demo_server: Dovecot is not installed (apt-get install dovecot-pop3d)\n", stderr);
        return 77;
    }

    // Signals are turned into events so the server is stopped from the event loop.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return 1;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    DovecotServer server;
    DemoMailbox::fill(server);
    if (!server.start(address, quint16(port))) {
        std::fprintf(stderr, "quellmail_demo_server: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    if (parser.isSet(folderOption)) {
        const QString cell = u"pop3://%1:%2"_s.arg(server.address()).arg(server.port());
        const QString error = DemoMailbox::writeProgramFolder(parser.value(folderOption), cell);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "quellmail_demo_server: %s\n", qPrintable(error));
            return 1;
        }
    }

    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    // End of input (the demo script closed its end or died) ends the demo.
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            input.setEnabled(false);
            QCoreApplication::quit();
        }
    });

    say(u"port "_s + QString::number(server.port()));
    say(u"maildir "_s + server.baseDir() + u"/mail/"_s + DemoMailbox::User + u"/Maildir"_s);
    say(u"ready"_s);
    const int status = app.exec();
    server.stop();
    return status;
}
