// Peak memory while a large message streams into a file, next to the size of
// the message. Without --port a local server thread answers the few commands
// the control sends and then writes the message as fast as the socket takes
// it; with --port the message is fetched from that server instead.
//
// bench_stream_memory [--port P --user U --password W [--host H] [--message N]]

#include "bench/benchcontrol.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <limits>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

class MessageServer final : public QThread
{
public:
    explicit MessageServer(qint64 bodyBytes)
        : m_bodyBytes(bodyBytes)
    {}
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

    QCommandLineParser parser;
    const Bench::AccountOptions account(u"server port (default: a server of our own)"_s, u"bench"_s);
    account.addTo(parser);
    const QCommandLineOption messageOption(u"message"_s, u"message number"_s, u"n"_s, u"1"_s);
    const QCommandLineOption outputOption(u"output"_s, u"file to write (default: a temporary one)"_s, u"path"_s);
    parser.addOptions({messageOption, outputOption});
    parser.process(app);

    const qint64 bodyBytes = 100LL * 1024 * 1024;
    std::unique_ptr<MessageServer> server;
    quint16 port = 0;
    if (parser.isSet(account.port)) {
        port = quint16(parser.value(account.port).toUInt());
    } else {
        server = std::make_unique<MessageServer>(bodyBytes);
        server->start();
        while (!server->ready.loadAcquire())
            QThread::msleep(5);
        port = server->port;
    }

    QTemporaryDir dir;
    Tarnpostctl::Tarnpost control;
    if (!Bench::connectControl(control, parser, account, port))
        return 1;
    // The message is larger than the control's default cap; what is measured
    // here is the stream, so the cap is raised.
    control.setMaxMessageSize(std::numeric_limits<qint32>::max());
    qint16 n = qint16(parser.value(messageOption).toInt());
    control.SetCurrentMsg(n);
    const long rssBefore = Bench::currentRssKb();
    const long peakBefore = Bench::peakRssKb();
    QString path = parser.isSet(outputOption) ? parser.value(outputOption) : dir.filePath(u"big.eml"_s);
    QFile::remove(path);
    QElapsedTimer wall;
    wall.start();
    control.WriteCurrentMsgToFile(path);
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const long peakAfter = Bench::peakRssKb();
    const qint64 fileSize = QFile(path).size();
    const qint16 error = control.Error();
    control.Disconnect();
    if (server)
        server->wait();

    std::printf("streamed %.1f MB into a file in %.2f s (Error %d)\n", double(fileSize) / 1048576.0, seconds,
                int(error));
    std::printf("peak RSS before %.1f MB, after %.1f MB: grew %.1f MB for a %.1f MB file\n", peakBefore / 1024.0,
                peakAfter / 1024.0, qMax(0L, peakAfter - rssBefore) / 1024.0, double(fileSize) / 1048576.0);
    // Growth is counted from the resident size when the download starts.
    Bench::printResult({{"seconds", seconds},
                        {"bytes", double(fileSize)},
                        {"peak_growth_kb", double(qMax(0L, peakAfter - rssBefore))}});
    return error == 0 ? 0 : 1;
}
