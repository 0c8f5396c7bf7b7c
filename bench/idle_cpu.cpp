// CPU spent by the control while a server accepts the connection and then says
// nothing: Connect waits POPTimeout + 1 seconds for a greeting. A blocking wait
// costs next to no CPU; a spinning one would cost the whole wall time.

#include "bench/benchsupport.h"
#include "pop3/tarnpost.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    // Accepts and never greets.
    QTcpServer silent;
    if (!silent.listen(QHostAddress::LocalHost, 0)) {
        std::fprintf(stderr, "cannot listen: %s\n", qPrintable(silent.errorString()));
        return 1;
    }
    std::vector<std::unique_ptr<QTcpSocket>> peers;
    QObject::connect(&silent, &QTcpServer::newConnection, &silent, [&] {
        while (QTcpSocket *peer = silent.nextPendingConnection())
            peers.emplace_back(peer);
    });

    const qint16 timeout = 10;
    Tarnpostctl::Tarnpost control;
    control.setPOPHostname(QStringLiteral("127.0.0.1"));
    control.setPOPPort(silent.serverPort());
    control.setPOPUsername(QStringLiteral("nobody"));
    control.setPOPTimeout(timeout);

    QElapsedTimer wall;
    const double cpuBefore = Bench::cpuSeconds();
    wall.start();
    control.Connect();
    const double wallSeconds = double(wall.elapsed()) / 1000.0;
    const double cpu = Bench::cpuSeconds() - cpuBefore;

    std::printf("silent server, POPTimeout %d: Error %d after %.2f s wall\n", int(timeout), int(control.Error()),
                wallSeconds);
    std::printf("CPU spent in the wait:   %.3f s (%.2f %% of the wall time)\n", cpu,
                wallSeconds > 0 ? 100.0 * cpu / wallSeconds : 0.0);
    std::printf("a spinning wait would spend about %.2f s\n", wallSeconds);
    Bench::printResult({{"cpu_seconds", cpu}, {"wall_seconds", wallSeconds}, {"error", double(control.Error())}});
    return control.Error() == Tarnpostctl::ErrorGreetingTimeout ? 0 : 1;
}
