// Peak memory while a large message streams into a file, next to the size of
// the message. A local server thread answers the few commands the control
// sends and then writes the message as fast as the socket takes it.

#include "tarnpost.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

class MessageServer final : public QThread
{
public:
    explicit MessageServer(qint64 bodyBytes)
        : m_bodyBytes(bodyBytes)
    {
    }
    quint16 port = 0;
    QAtomicInt ready;

protected:
    void run() override
    {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        port = server.serverPort();
        ready.storeRelease(1);
        if (!server.waitForNewConnection(30000))
            return;
        QTcpSocket *peer = server.nextPendingConnection();
        peer->write("+OK ready\r\n");
        QByteArray pending;
        const QByteArray line = QByteArray(78, 'm') + "\r\n";
        while (peer->state() == QAbstractSocket::ConnectedState) {
            if (!peer->waitForReadyRead(30000))
                return;
            pending += peer->readAll();
            qsizetype end;
            while ((end = pending.indexOf("\r\n")) >= 0) {
                const QByteArray cmd = pending.left(end);
                pending.remove(0, end + 2);
                if (cmd.startsWith("STAT")) {
                    peer->write("+OK 1 " + QByteArray::number(m_bodyBytes) + "\r\n");
                } else if (cmd.startsWith("LIST")) {
                    peer->write("+OK 1 " + QByteArray::number(m_bodyBytes) + "\r\n");
                } else if (cmd.startsWith("TOP")) {
                    peer->write("+OK\r\nSubject: big\r\n\r\n.\r\n");
                } else if (cmd.startsWith("RETR")) {
                    peer->write("+OK\r\nSubject: big\r\n\r\n");
                    for (qint64 sent = 0; sent < m_bodyBytes; sent += line.size()) {
                        peer->write(line);
                        if (peer->bytesToWrite() > 1 << 20)
                            peer->waitForBytesWritten(30000);
                    }
                    peer->write(".\r\n");
                    peer->waitForBytesWritten(30000);
                } else if (cmd.startsWith("QUIT")) {
                    peer->write("+OK bye\r\n");
                    peer->waitForBytesWritten(30000);
                    peer->disconnectFromHost();
                    return;
                } else {
                    peer->write("+OK\r\n");
                }
                peer->flush();
            }
        }
    }

private:
    qint64 m_bodyBytes;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 bodyBytes = 100LL * 1024 * 1024;

    MessageServer server(bodyBytes);
    server.start();
    while (!server.ready.loadAcquire())
        QThread::msleep(5);

    QTemporaryDir dir;
    Tarnpostctl::Tarnpost control;
    control.setPOPHostname(u"127.0.0.1"_s);
    control.setPOPPort(server.port);
    control.setPOPUsername(u"bench"_s);
    control.setPOPTimeout(10);
    control.Connect();
    qint16 n = 1;
    control.SetCurrentMsg(n);
    const long rssBefore = peakRssKb();
    QString path = dir.filePath(u"big.eml"_s);
    QElapsedTimer wall;
    wall.start();
    control.WriteCurrentMsgToFile(path);
    const double seconds = double(wall.elapsed()) / 1000.0;
    const long rssAfter = peakRssKb();
    const qint64 fileSize = QFile(path).size();
    control.Disconnect();
    server.wait();

    std::printf("streamed %.1f MB into a file in %.2f s (Error %d)\n", double(fileSize) / 1048576.0, seconds,
                int(control.Error()));
    std::printf("peak RSS before %.1f MB, after %.1f MB: grew %.1f MB for a %.1f MB message\n", rssBefore / 1024.0,
                rssAfter / 1024.0, (rssAfter - rssBefore) / 1024.0, double(bodyBytes) / 1048576.0);
    return 0;
}
