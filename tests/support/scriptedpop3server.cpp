#include "tests/support/scriptedpop3server.h"

#include "tests/support/scriptedpop3worker.h"

#include <QTest>
#include <QThread>

#include <algorithm>

ScriptedPop3Server::ScriptedPop3Server(QObject *parent)
    : QObject(parent)
    , m_state(std::make_unique<ScriptedPop3State>())
    , m_thread(new QThread)
    , m_worker(new ScriptedPop3Worker(m_state.get()))
{
    m_thread->setObjectName(QStringLiteral("ScriptedPop3Server"));
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &ScriptedPop3Worker::lineReceived, this, &ScriptedPop3Server::lineReceived);
    m_thread->start();
}

ScriptedPop3Server::~ScriptedPop3Server()
{
    QMetaObject::invokeMethod(m_worker, &ScriptedPop3Worker::shutdown, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void ScriptedPop3Server::setGreeting(const QList<QByteArray> &chunks)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->greeting = chunks;
}

void ScriptedPop3Server::setAcceptButNeverGreet() { setGreeting({}); }

void ScriptedPop3Server::addStep(const QByteArray &expectPrefix, const QList<QByteArray> &replyChunks, int action)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->steps.append({expectPrefix, replyChunks, ScriptedPop3State::Action(action), {}, {}, {}});
}

void ScriptedPop3Server::expect(const QByteArray &expectPrefix, const QList<QByteArray> &replyChunks)
{
    addStep(expectPrefix, replyChunks, int(ScriptedPop3State::Action::Reply));
}

void ScriptedPop3Server::expectThenClose(const QByteArray &expectPrefix, const QList<QByteArray> &replyChunks)
{
    addStep(expectPrefix, replyChunks, int(ScriptedPop3State::Action::ReplyThenClose));
}

void ScriptedPop3Server::expectThenSilence(const QByteArray &expectPrefix)
{
    addStep(expectPrefix, {}, int(ScriptedPop3State::Action::Silence));
}

void ScriptedPop3Server::setDefaultReply(const QList<QByteArray> &chunks)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->defaultReply = chunks;
}

void ScriptedPop3Server::setChunkDelay(int ms)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->chunkDelayMs = std::max(0, ms);
}

void ScriptedPop3Server::addMailbox(const QString &user, const QString &password, const QList<QByteArray> &messages)
{
    addGeneratedMailbox(user, password, int(messages.size()), [&messages](int n) { return messages.at(n - 1); });
}

void ScriptedPop3Server::addGeneratedMailbox(const QString &user, const QString &password, int count,
                                             const std::function<QByteArray(int)> &make)
{
    QMutexLocker lock(&m_state->mutex);
    ScriptedPop3State::Mailbox &box = m_state->mailboxes[user];
    box.password = password;
    box.messages.reserve(count);
    for (int n = 1; n <= count; ++n) {
        box.messages.append(toWire(make(n)));
        box.uids.append(QByteArray());
    }
}

void ScriptedPop3Server::claimCount(const QString &user, qint64 count)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->mailboxes[user].claimed = count;
}

void ScriptedPop3Server::failAt(const QString &user, Exchange exchange, Fault fault)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->steps.append({{}, {}, ScriptedPop3State::Action::Fault, user, exchange, fault});
}

void ScriptedPop3Server::twistAt(const QString &user, Exchange exchange, Twist twist)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->steps.append({{}, {}, ScriptedPop3State::Action::Fault, user, exchange, Fault::None, twist});
}

void ScriptedPop3Server::setUniqueIds(const QString &user, const QList<QByteArray> &uids)
{
    QMutexLocker lock(&m_state->mutex);
    ScriptedPop3State::Mailbox &box = m_state->mailboxes[user];
    box.uids = uids.mid(0, box.messages.size());
    while (box.uids.size() < box.messages.size())
        box.uids.append(QByteArray());
}

void ScriptedPop3Server::setCapabilities(const QList<QByteArray> &capabilities)
{
    QMutexLocker lock(&m_state->mutex);
    m_state->capabilities = capabilities;
}

QList<QByteArray> ScriptedPop3Server::mailbox(const QString &user) const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->mailboxes.value(user).messages;
}

QList<QByteArray> ScriptedPop3Server::commands(const QString &user) const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->mailboxes.value(user).commands;
}

int ScriptedPop3Server::highestMessageRequested(const QString &user) const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->mailboxes.value(user).highest;
}

bool ScriptedPop3Server::start()
{
    bool ok = false;
    QMetaObject::invokeMethod(m_worker, &ScriptedPop3Worker::listen, Qt::BlockingQueuedConnection, &ok);
    return ok;
}

quint16 ScriptedPop3Server::port() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->port;
}

QList<QByteArray> ScriptedPop3Server::receivedLines() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->received;
}

QList<QByteArray> ScriptedPop3Server::linesSentAhead() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->ahead;
}

QStringList ScriptedPop3Server::mismatches() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->mismatches;
}

int ScriptedPop3Server::connectionCount() const
{
    QMutexLocker lock(&m_state->mutex);
    return m_state->connections;
}

int ScriptedPop3Server::endedConnectionCount() const { return m_state->ended; }

bool ScriptedPop3Server::playedAll() const
{
    // Asked in the server's thread, so that no line is answered in between.
    bool played = false;
    QMetaObject::invokeMethod(
        m_worker, [this] { return remainingSteps() == 0 && m_worker->sentAll(); }, Qt::BlockingQueuedConnection,
        &played);
    return played;
}

int ScriptedPop3Server::remainingSteps() const
{
    QMutexLocker lock(&m_state->mutex);
    return int(m_state->steps.size() - m_state->nextStep);
}

bool ScriptedPop3Server::waitForLines(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return receivedLines().size() >= count; }, timeoutMs);
}

QList<QByteArray> ScriptedPop3Server::splitAt(const QByteArray &data, const QList<int> &positions)
{
    QList<int> cuts = positions;
    std::sort(cuts.begin(), cuts.end());
    QList<QByteArray> chunks;
    qsizetype from = 0;
    for (int cut : std::as_const(cuts)) {
        if (cut <= from || cut >= data.size())
            continue;
        chunks.append(data.mid(from, cut - from));
        from = cut;
    }
    if (from < data.size())
        chunks.append(data.mid(from));
    return chunks;
}

QList<QByteArray> ScriptedPop3Server::chunksOf(const QByteArray &data, int n)
{
    QList<QByteArray> chunks;
    const qsizetype step = std::max(1, n);
    for (qsizetype from = 0; from < data.size(); from += step)
        chunks.append(data.mid(from, step));
    return chunks;
}

QByteArray ScriptedPop3Server::toWire(const QByteArray &message)
{
    QByteArray wire;
    wire.reserve(message.size() + message.size() / 16 + 2);
    for (qsizetype i = 0; i < message.size(); ++i) {
        const char c = message.at(i);
        if (c == '\n' && (i == 0 || message.at(i - 1) != '\r'))
            wire += '\r';
        wire += c;
    }
    if (!wire.endsWith("\r\n"))
        wire += "\r\n";
    return wire;
}
