// The control's socket layer: state numbers, close versus error, error numbers.

#include "pop3/socketadapter.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using Tarnpostctl::SocketAdapter;

class TestSocketAdapter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void errorNumbersStayClearOfControlCodes();
    void knownErrorNumbers_data();
    void knownErrorNumbers();
    void peerCloseIsCloseNotError();
    void refusedConnectionIsError();
    void dataArrivalReportsWaitingBytes();
};

void TestSocketAdapter::errorNumbersStayClearOfControlCodes()
{
    const QMetaEnum errors = QMetaEnum::fromType<QAbstractSocket::SocketError>();
    QVERIFY(errors.keyCount() > 10);
    for (int i = 0; i < errors.keyCount(); ++i) {
        const int number = SocketAdapter::errorNumber(errors.value(i));
        QVERIFY2(number >= 10000, errors.key(i));
        QVERIFY2(number <= 32767, errors.key(i)); // fits the control's 16-bit Error
    }
}

void TestSocketAdapter::knownErrorNumbers_data()
{
    QTest::addColumn<int>("qtError");
    QTest::addColumn<int>("number");
    QTest::newRow("refused") << int(QAbstractSocket::ConnectionRefusedError) << 10061;
    QTest::newRow("host not found") << int(QAbstractSocket::HostNotFoundError) << 11001;
    QTest::newRow("timed out") << int(QAbstractSocket::SocketTimeoutError) << 10060;
    QTest::newRow("unreachable") << int(QAbstractSocket::NetworkError) << 10065;
    QTest::newRow("address not available") << int(QAbstractSocket::SocketAddressNotAvailableError) << 10049;
    QTest::newRow("access") << int(QAbstractSocket::SocketAccessError) << 10013;
}

void TestSocketAdapter::knownErrorNumbers()
{
    QFETCH(int, qtError);
    QFETCH(int, number);
    QCOMPARE(SocketAdapter::errorNumber(qtError), number);
}

void TestSocketAdapter::peerCloseIsCloseNotError()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    SocketAdapter socket;
    QSignalSpy closed(&socket, &SocketAdapter::closed);
    QSignalSpy error(&socket, &SocketAdapter::error);
    socket.connectToHost(QStringLiteral("127.0.0.1"), listener.serverPort());
    QCOMPARE(socket.state(), int(SocketAdapter::StateConnecting));
    QCOMPARE(socket.remotePort(), qint32(listener.serverPort()));
    QTRY_COMPARE(socket.state(), int(SocketAdapter::StateConnected));
    QCOMPARE(socket.remoteHostIP(), QStringLiteral("127.0.0.1"));
    QTRY_VERIFY(listener.hasPendingConnections());
    QTcpSocket *peer = listener.nextPendingConnection();
    QVERIFY(peer);
    peer->write("bye\r\n");
    peer->disconnectFromHost();
    QTRY_COMPARE(closed.count(), 1);
    QCOMPARE(error.count(), 0);
    QCOMPARE(socket.state(), int(SocketAdapter::StateClosing));
    socket.close();
    QCOMPARE(socket.state(), int(SocketAdapter::StateClosed));
    QCOMPARE(closed.count(), 1);
    QCOMPARE(error.count(), 0);
}

void TestSocketAdapter::refusedConnectionIsError()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    SocketAdapter socket;
    QSignalSpy closed(&socket, &SocketAdapter::closed);
    QSignalSpy error(&socket, &SocketAdapter::error);
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    QTRY_COMPARE(error.count(), 1);
    QCOMPARE(error.at(0).at(0).toInt(), 10061);
    QVERIFY(!error.at(0).at(1).toString().isEmpty());
    QCOMPARE(socket.state(), int(SocketAdapter::StateError));
    QCOMPARE(closed.count(), 0);
    socket.close();
    QCOMPARE(socket.state(), int(SocketAdapter::StateClosed));
}

void TestSocketAdapter::dataArrivalReportsWaitingBytes()
{
    QTcpServer listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    SocketAdapter socket;
    QSignalSpy arrival(&socket, &SocketAdapter::dataArrival);
    socket.connectToHost(QStringLiteral("127.0.0.1"), listener.serverPort());
    QTRY_COMPARE(socket.state(), int(SocketAdapter::StateConnected));
    QTRY_VERIFY(listener.hasPendingConnections());
    QTcpSocket *peer = listener.nextPendingConnection();
    QVERIFY(peer);
    const QByteArray bytes("\xff\x00\x80+OK\r\n", 8);
    peer->write(bytes);
    QTRY_VERIFY(socket.bytesAvailable() >= bytes.size());
    QVERIFY(arrival.count() >= 1);
    QVERIFY(arrival.last().at(0).toLongLong() > 0);
    QCOMPARE(socket.read(3), bytes.left(3));
    QCOMPARE(socket.readAll(), bytes.mid(3));

    QCOMPARE(socket.send("QUIT\r\n"), qint64(6));
    QByteArray got;
    QTRY_VERIFY((got += peer->readAll()).size() >= 6);
    QCOMPARE(got, QByteArray("QUIT\r\n"));
    socket.close();
    QCOMPARE(socket.state(), int(SocketAdapter::StateClosed));
}

QTEST_GUILESS_MAIN(TestSocketAdapter)
#include "tst_socketadapter.moc"
