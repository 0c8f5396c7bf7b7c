// RetrieveCurrentMsg of one message into memory by the control alone.
// Prints the wall time of the call and the size it assembled.
//
// bench_retrieve --port P --user U --password W [--host H] [--message N]

#include "bench/benchcontrol.h"

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
    const Bench::AccountOptions account;
    account.addTo(parser);
    const QCommandLineOption messageOption(u"message"_s, u"message number"_s, u"n"_s, u"1"_s);
    parser.addOption(messageOption);
    parser.process(app);

    Tarnpostctl::Tarnpost control;
    if (!Bench::connectControl(control, parser, account, parser.value(account.port).toInt()))
        return 1;
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
    Bench::printResult(
        {{"seconds", seconds}, {"bytes", bytes}, {"peak_growth_kb", double(qMax(0L, peakAfter - rssBefore))}});
    return error == 0 ? 0 : 1;
}
