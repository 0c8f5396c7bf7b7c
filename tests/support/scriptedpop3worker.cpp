#include "tests/support/scriptedpop3worker.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using namespace Qt::StringLiterals;

ScriptedPop3Worker::ScriptedPop3Worker(ScriptedPop3State *state)
    : m_state(state)
{
}

ScriptedPop3Worker::~ScriptedPop3Worker() = default;

bool ScriptedPop3Worker::listen()
{
    if (m_server)
        return m_server->isListening();
    m_server = new QTcpServer(this);
    m_pacer = new QTimer(this);
    m_pacer->setSingleShot(true);
    connect(m_pacer, &QTimer::timeout, this, &ScriptedPop3Worker::sendNext);
    connect(m_server, &QTcpServer::newConnection, this, &ScriptedPop3Worker::takeNextConnection);
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        return false;
    QMutexLocker lock(&m_state->mutex);
    m_state->port = m_server->serverPort();
    return true;
}

void ScriptedPop3Worker::shutdown()
{
    if (m_pacer)
        m_pacer->stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        delete m_socket;
        m_socket = nullptr;
    }
    if (m_server) {
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
    delete m_pacer;
    m_pacer = nullptr;
}

void ScriptedPop3Worker::takeNextConnection()
{
    // One connection at a time: later ones wait in the server's queue.
    if (m_socket || !m_server || !m_server->hasPendingConnections())
        return;
    m_socket = m_server->nextPendingConnection();
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_buffer.clear();
    m_outgoing.clear();
    m_silent = false;
    m_closing = false;
    connect(m_socket, &QTcpSocket::readyRead, this, &ScriptedPop3Worker::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &ScriptedPop3Worker::onDisconnected);

    QList<QByteArray> greeting;
    {
        QMutexLocker lock(&m_state->mutex);
        ++m_state->connections;
        greeting = m_state->greeting;
    }
    queue(greeting, false);
}

void ScriptedPop3Worker::onReadyRead()
{
    if (!m_socket)
        return;
    m_buffer += m_socket->readAll();
    qsizetype end;
    while (m_socket && (end = m_buffer.indexOf("\r\n")) >= 0) {
        const QByteArray line = m_buffer.left(end);
        m_buffer.remove(0, end + 2);
        handleLine(line);
    }
}

void ScriptedPop3Worker::handleLine(const QByteArray &line)
{
    QList<QByteArray> reply;
    bool close = false;
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->received.append(line);
        if (!m_silent && !m_closing) {
            const bool isQuit = line.trimmed().compare("QUIT", Qt::CaseInsensitive) == 0;
            const bool haveStep = m_state->nextStep < m_state->steps.size();
            const bool stepIsQuit = haveStep
                && m_state->steps.at(m_state->nextStep).expectPrefix.toUpper().startsWith("QUIT");
            if (isQuit && !stepIsQuit) {
                reply = {QByteArrayLiteral("+OK bye\r\n")};
                close = true;
            } else if (haveStep) {
                const ScriptedPop3State::Step step = m_state->steps.at(m_state->nextStep);
                if (!line.startsWith(step.expectPrefix)) {
                    m_state->mismatches.append(u"step %1: expected a line starting with \"%2\", got \"%3\""_s.arg(
                        QString::number(m_state->nextStep + 1), QString::fromLatin1(step.expectPrefix),
                        QString::fromLatin1(line)));
                }
                ++m_state->nextStep;
                switch (step.action) {
                case ScriptedPop3State::Action::Reply:
                    reply = step.replyChunks;
                    break;
                case ScriptedPop3State::Action::ReplyThenClose:
                    reply = step.replyChunks;
                    close = true;
                    break;
                case ScriptedPop3State::Action::Silence:
                    m_silent = true;
                    break;
                }
            } else {
                reply = m_state->defaultReply;
            }
        }
    }
    // Queue the reply before announcing the line, so a waiting test sees it on the wire.
    if (!reply.isEmpty() || close)
        queue(reply, close);
    Q_EMIT lineReceived();
}

void ScriptedPop3Worker::queue(const QList<QByteArray> &chunks, bool closeAfter)
{
    if (!m_socket)
        return;
    for (const QByteArray &chunk : chunks) {
        if (!chunk.isEmpty())
            m_outgoing.append({chunk, false});
    }
    if (closeAfter) {
        m_closing = true;
        m_outgoing.append({QByteArray(), true});
    }
    if (!m_pacer->isActive())
        sendNext();
}

void ScriptedPop3Worker::sendNext()
{
    if (!m_socket || m_outgoing.isEmpty())
        return;
    const Outgoing out = m_outgoing.takeFirst();
    if (out.closeAfter) {
        m_outgoing.clear();
        m_socket->flush();
        m_socket->disconnectFromHost();
        return;
    }
    m_socket->write(out.chunk);
    m_socket->flush();
    if (m_outgoing.isEmpty())
        return;
    int delay;
    {
        QMutexLocker lock(&m_state->mutex);
        delay = m_state->chunkDelayMs;
    }
    // A close right after the last chunk needs no pause.
    if (m_outgoing.first().closeAfter)
        delay = 0;
    m_pacer->start(delay);
}

void ScriptedPop3Worker::onDisconnected()
{
    dropConnection();
    // The next queued client, if any, gets its greeting now.
    QTimer::singleShot(0, this, &ScriptedPop3Worker::takeNextConnection);
}

void ScriptedPop3Worker::dropConnection()
{
    if (!m_socket)
        return;
    m_pacer->stop();
    m_outgoing.clear();
    m_socket->disconnect(this);
    m_socket->deleteLater();
    m_socket = nullptr;
}
