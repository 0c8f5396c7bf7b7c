// CPU spent by the control while a server accepts the connection and then says
// nothing: Connect waits POPTimeout + 1 seconds for a greeting. A blocking wait
// costs next to no CPU; a spinning one would cost the whole wall time.

#include "tarnpost.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

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
    const double cpuBefore = cpuSeconds();
    wall.start();
    control.Connect();
    const double wallSeconds = double(wall.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;

    std::printf("silent server, POPTimeout %d: Error %d after %.2f s wall\n", int(timeout), int(control.Error()),
                wallSeconds);
    std::printf("CPU spent in the wait:   %.3f s (%.2f %% of the wall time)\n", cpu,
                wallSeconds > 0 ? 100.0 * cpu / wallSeconds : 0.0);
    std::printf("a spinning wait would spend about %.2f s\n", wallSeconds);
    return control.Error() == 11 ? 0 : 1;
}
