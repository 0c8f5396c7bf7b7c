// RetrieveCurrentMsg of one message into memory by the control alone.
// Prints the wall time of the call and the size it assembled.
//
// bench_retrieve --port P --user U --password W [--host H] [--message N]

#include "benchsupport.h"
#include "tarnpost.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QCommandLineParser parser;
    const QCommandLineOption hostOption(u"host"_s, u"server address"_s, u"host"_s, u"127.0.0.1"_s);
    const QCommandLineOption portOption(u"port"_s, u"server port"_s, u"port"_s);
    const QCommandLineOption userOption(u"user"_s, u"mailbox user"_s, u"user"_s);
    const QCommandLineOption passwordOption(u"password"_s, u"mailbox password"_s, u"password"_s);
    const QCommandLineOption messageOption(u"message"_s, u"message number"_s, u"n"_s, u"1"_s);
    parser.addOptions({hostOption, portOption, userOption, passwordOption, messageOption});
    parser.process(app);

    Tarnpostctl::Tarnpost control;
    control.setPOPHostname(parser.value(hostOption));
    control.setPOPPort(parser.value(portOption).toInt());
    control.setPOPUsername(parser.value(userOption));
    control.setPOPPassword(parser.value(passwordOption));
    control.setPOPTimeout(30);
    control.Connect();
    if (control.Error() != 0) {
        std::fprintf(stderr, "connect failed: %s\n", qPrintable(control.ErrorText()));
        return 1;
    }
    qint16 number = qint16(parser.value(messageOption).toInt());
    control.SetCurrentMsg(number);

    const long rssBefore = Bench::currentRssKb();
    QElapsedTimer wall;
    wall.start();
    control.RetrieveCurrentMsg();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const long peakAfter = Bench::peakRssKb();
    const qint16 error = control.Error();
    const double bytes = double(control.MsgHeaders().size() + control.MsgContents().size());
    control.Disconnect();

    std::fprintf(stderr, "retrieved %.0f characters in %.3f s (Error %d)\n", bytes, seconds, int(error));
    Bench::printResult({{"seconds", seconds}, {"bytes", bytes}, {"peak_growth_kb", double(qMax(0L, peakAfter - rssBefore))}});
    return error == 0 ? 0 : 1;
}
