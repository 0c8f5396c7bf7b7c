#include "tests/support/scriptedpop3worker.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype HugeLineSize = 1024 * 1024;
// An endless reply is topped up in pieces while the client reads, and given
// up after this much, should a client never stop reading.
constexpr qsizetype EndlessPiece = 64 * 1024;
constexpr qint64 EndlessLimit = qint64(1) << 30;

// The line a content fault puts at the top of a multi-line reply.
QByteArray faultLine(ScriptedPop3Server::Fault fault)
{
    if (fault == ScriptedPop3Server::Fault::Nul)
        return QByteArray("X-Nul: a\0b\r\n", 12);
    return "X-Huge: " + QByteArray(HugeLineSize, 'h') + "\r\n";
}

QByteArray dotStuffed(const QByteArray &wire)
{
    // Most messages need no stuffing and go out as they are, not copied.
    if (!wire.startsWith('.') && !wire.contains("\r\n."))
        return wire;
    QByteArray out;
    out.reserve(wire.size() + 16);
    qsizetype start = 0;
    while (start < wire.size()) {
        qsizetype end = wire.indexOf("\r\n", start);
        end = end < 0 ? wire.size() : end + 2;
        if (wire.at(start) == '.')
            out += '.';
        out += wire.mid(start, end - start);
        start = end;
    }
    return out;
}

} // namespace

ScriptedPop3Worker::ScriptedPop3Worker(ScriptedPop3State *state)
    : m_state(state)
{}

ScriptedPop3Worker::~ScriptedPop3Worker() = default;

bool ScriptedPop3Worker::listen()
{
    if (m_server)
        return m_server->isListening();
    m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::newConnection, this, &ScriptedPop3Worker::takeNextConnection);
    if (!m_server->listen(QHostAddress::LocalHost, 0))
        return false;
    QMutexLocker lock(&m_state->mutex);
    m_state->port = m_server->serverPort();
    return true;
}

bool ScriptedPop3Worker::sentAll() const
{
    return std::all_of(m_sessions.cbegin(), m_sessions.cend(), [](const auto &entry) {
        return entry.second.outgoing.isEmpty() && (!entry.second.socket || entry.second.socket->bytesToWrite() == 0);
    });
}

void ScriptedPop3Worker::shutdown()
{
    for (auto &entry : m_sessions) {
        entry.first->disconnect(this);
        entry.first->abort();
        delete entry.first;
    }
    m_sessions.clear();
    delete m_server;
    m_server = nullptr;
}

bool ScriptedPop3Worker::mailboxMode() const
{
    QMutexLocker lock(&m_state->mutex);
    return !m_state->mailboxes.isEmpty();
}

void ScriptedPop3Worker::takeNextConnection()
{
    const bool mailboxes = mailboxMode();
    while (m_server && m_server->hasPendingConnections()) {
        // A script serves one connection at a time: later ones wait in the queue.
        if (!mailboxes && !m_sessions.empty())
            return;
        QTcpSocket *socket = m_server->nextPendingConnection();
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Session &s = m_sessions[socket];
        s.socket = socket;
        s.pacer = new QTimer(socket);
        s.pacer->setSingleShot(true);
        connect(s.pacer, &QTimer::timeout, this, [this, socket] { sendNext(socket); });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { pumpEndless(socket); });

        QMutexLocker lock(&m_state->mutex);
        ++m_state->connections;
        if (!mailboxes) {
            const QList<QByteArray> greeting = m_state->greeting;
            lock.unlock();
            queue(s, greeting, false);
            continue;
        }
        const Fault f = m_state->connections == 1 ? faultAt(s, Exchange::Greeting) : Fault::None;
        const QByteArray greeting = m_state->greeting.join();
        if (greeting.isEmpty() && f == Fault::None)
            continue;
        reply(s, f, greeting.endsWith("\r\n") ? greeting.chopped(2) : greeting);
        // A server that refuses at the greeting goes away.
        if (f == Fault::Err)
            closeAfter(s);
    }
}

void ScriptedPop3Worker::drop(QTcpSocket *socket)
{
    auto it = m_sessions.find(socket);
    if (it == m_sessions.end() || !it->second.socket)
        return;
    it->second.socket = nullptr;
    it->second.pacer->stop();
    ++m_state->ended; // atomic: a close made with the state locked lands here
    socket->disconnect(this);
    // Later: a close inside a read handler must not pull the session from
    // under it. Then the next queued client, if any, gets its greeting.
    // A shutdown in between has deleted the socket already.
    QMetaObject::invokeMethod(
        this,
        [this, socket] {
            if (m_sessions.erase(socket) == 0)
                return;
            socket->deleteLater();
            takeNextConnection();
        },
        Qt::QueuedConnection);
}

void ScriptedPop3Worker::onReadyRead(QTcpSocket *socket)
{
    auto it = m_sessions.find(socket);
    if (it == m_sessions.end())
        return;
    Session &s = it->second;
    s.in += socket->readAll();
    const bool mailboxes = mailboxMode();
    qsizetype end;
    bool first = true;
    while (s.socket && !(mailboxes && s.closing) && (end = s.in.indexOf("\r\n")) >= 0) {
        const QByteArray line = s.in.left(end);
        s.in.remove(0, end + 2);
        // Behind another line of the same read, or while a reply is still
        // going out: the client did not wait for the reply before it.
        if (!first || !s.outgoing.isEmpty()) {
            QMutexLocker lock(&m_state->mutex);
            m_state->ahead.append(line);
        }
        first = false;
        if (mailboxes) {
            QMutexLocker lock(&m_state->mutex);
            m_state->received.append(line);
            if (!s.silent)
                answer(s, line);
        } else {
            handleLine(s, line);
        }
        Q_EMIT lineReceived();
    }
}

void ScriptedPop3Worker::handleLine(Session &s, const QByteArray &line)
{
    QList<QByteArray> reply;
    bool close = false;
    {
        QMutexLocker lock(&m_state->mutex);
        m_state->received.append(line);
        if (s.silent || s.closing)
            return;
        const bool isQuit = line.trimmed().compare("QUIT", Qt::CaseInsensitive) == 0;
        const bool haveStep = m_state->nextStep < m_state->steps.size();
        const bool stepIsQuit =
            haveStep && m_state->steps.at(m_state->nextStep).expectPrefix.toUpper().startsWith("QUIT");
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
            reply = step.replyChunks;
            close = step.action == ScriptedPop3State::Action::ReplyThenClose;
            s.silent = step.action == ScriptedPop3State::Action::Silence;
        } else {
            reply = m_state->defaultReply;
        }
    }
    // Queue the reply before announcing the line, so a waiting test sees it on the wire.
    if (!reply.isEmpty() || close)
        queue(s, reply, close);
}

void ScriptedPop3Worker::queue(Session &s, const QList<QByteArray> &chunks, bool closeAfter)
{
    if (!s.socket)
        return;
    for (const QByteArray &chunk : chunks) {
        if (!chunk.isEmpty())
            s.outgoing.append({chunk, false});
    }
    if (closeAfter) {
        s.closing = true;
        s.outgoing.append({QByteArray(), true});
    }
    if (!s.pacer->isActive())
        sendNext(s.socket);
}

void ScriptedPop3Worker::sendNext(QTcpSocket *socket)
{
    auto it = m_sessions.find(socket);
    if (it == m_sessions.end() || !it->second.socket || it->second.outgoing.isEmpty())
        return;
    Session &s = it->second;
    const Outgoing out = s.outgoing.takeFirst();
    if (out.closeAfter) {
        s.outgoing.clear();
        socket->flush();
        socket->disconnectFromHost();
        return;
    }
    socket->write(out.chunk);
    socket->flush();
    if (s.outgoing.isEmpty())
        return;
    int delay;
    {
        QMutexLocker lock(&m_state->mutex);
        delay = m_state->chunkDelayMs;
    }
    // A close right after the last chunk needs no pause.
    if (s.outgoing.first().closeAfter)
        delay = 0;
    s.pacer->start(delay);
}

ScriptedPop3Server::Fault ScriptedPop3Worker::faultAt(const Session &s, Exchange exchange, const QString &userHint,
                                                      ScriptedPop3Server::Twist *twist)
{
    if (m_state->nextStep >= m_state->steps.size())
        return Fault::None;
    const ScriptedPop3State::Step &step = m_state->steps.at(m_state->nextStep);
    if (step.action != ScriptedPop3State::Action::Fault || step.exchange != exchange)
        return Fault::None;
    if (exchange != Exchange::Greeting && (userHint.isEmpty() ? s.user : userHint) != step.user)
        return Fault::None;
    // A twist is taken only where the caller can act on it.
    if (step.twist != ScriptedPop3Server::Twist::None && !twist)
        return Fault::None;
    ++m_state->nextStep;
    if (twist)
        *twist = step.twist;
    return step.fault;
}

int ScriptedPop3Worker::crossedNumber(Session &s, const QByteArray &verb, int number, ScriptedPop3Server::Twist twist)
{
    if (twist == ScriptedPop3Server::Twist::Crosswise) {
        s.crossed.insert(verb, number);
        return number + 1;
    }
    const auto it = s.crossed.constFind(verb);
    if (it != s.crossed.cend() && number == it.value() + 1) {
        const int swapped = it.value();
        s.crossed.remove(verb);
        return swapped;
    }
    return number;
}

qint64 ScriptedPop3Worker::listedSizeOf(Session &s, int number)
{
    // A message a RETR fault will alter holds the fault's line from the
    // start: its size is the size of what RETR will send.
    if (s.alteredNumber == 0 && m_state->nextStep < m_state->steps.size()) {
        const ScriptedPop3State::Step &step = m_state->steps.at(m_state->nextStep);
        if (step.action == ScriptedPop3State::Action::Fault && step.user == s.user
            && (step.exchange == Exchange::Retr || step.exchange == Exchange::RetrToFile)
            && (step.fault == Fault::Nul || step.fault == Fault::HugeLine)) {
            s.alteredNumber = number;
            s.alteredLine = faultLine(step.fault);
        }
    }
    const qint64 size = m_state->mailboxes[s.user].messages.at(number - 1).size();
    return number == s.alteredNumber ? size + s.alteredLine.size() : size;
}

QByteArray ScriptedPop3Worker::uidOf(const QString &user, int number) const
{
    const QByteArray uid = m_state->mailboxes.value(user).uids.value(number - 1);
    return uid.isEmpty() ? "uid-" + QByteArray::number(number) : uid;
}

void ScriptedPop3Worker::closeAfter(Session &s)
{
    s.closing = true;
    s.socket->disconnectFromHost();
}

void ScriptedPop3Worker::reply(Session &s, Fault fault, const QByteArray &status, const QByteArray *body)
{
    const bool multi = body != nullptr;
    auto whole = [&](const QByteArray &first, const QByteArray &extraHeader) {
        QByteArray out = first + "\r\n";
        if (multi)
            out += extraHeader + dotStuffed(*body) + ".\r\n";
        return out;
    };
    QTcpSocket *socket = s.socket;
    switch (fault) {
    case Fault::None:
    case Fault::Count:
        socket->write(status + "\r\n");
        // In pieces, so that a large message is not copied on its way out.
        if (multi) {
            socket->write(dotStuffed(*body));
            socket->write(".\r\n");
        }
        return;
    case Fault::Close:
        s.closing = true;
        socket->abort();
        return;
    case Fault::Silence: s.silent = true; return;
    case Fault::Err: socket->write("-ERR injected failure\r\n"); return;
    case Fault::NoOk: socket->write(whole("ok" + status.mid(3), {})); return;
    case Fault::NoCrLf: socket->write(status); return;
    case Fault::LfOnly: socket->write(whole(status, {}).replace("\r\n", "\n")); return;
    case Fault::Nul:
        socket->write(multi ? whole(status, faultLine(fault)) : status + QByteArray(" \0x\r\n", 5));
        return;
    case Fault::HugeLine:
        socket->write(multi ? whole(status, faultLine(fault)) : status + ' ' + QByteArray(HugeLineSize, 'h') + "\r\n");
        return;
    case Fault::Endless:
        socket->write(status + (multi ? "\r\n" : " "));
        s.endlessPiece = multi ? QByteArray(QByteArray(62, 'e') + "\r\n").repeated(EndlessPiece / 64)
                               : QByteArray(EndlessPiece, 'e');
        pumpEndless(socket);
        return;
    }
}

void ScriptedPop3Worker::pumpEndless(QTcpSocket *socket)
{
    auto it = m_sessions.find(socket);
    if (it == m_sessions.end() || !it->second.socket)
        return;
    Session &s = it->second;
    while (!s.endlessPiece.isEmpty() && !s.closing && s.endlessSent < EndlessLimit
           && socket->bytesToWrite() < 4 * EndlessPiece) {
        socket->write(s.endlessPiece);
        s.endlessSent += s.endlessPiece.size();
    }
}

const QByteArray *ScriptedPop3Worker::message(Session &s, int number)
{
    ScriptedPop3State::Mailbox &box = m_state->mailboxes[s.user];
    box.highest = std::max(box.highest, number);
    if (number < 1 || number > s.count || s.deleted.contains(number))
        return nullptr;
    return &box.messages.at(number - 1);
}

void ScriptedPop3Worker::commit(Session &s)
{
    if (!s.authed)
        return;
    QList<int> numbers(s.deleted.cbegin(), s.deleted.cend());
    std::sort(numbers.begin(), numbers.end(), std::greater<int>());
    ScriptedPop3State::Mailbox &box = m_state->mailboxes[s.user];
    for (int n : std::as_const(numbers)) {
        box.messages.removeAt(n - 1);
        if (n - 1 < box.uids.size())
            box.uids.removeAt(n - 1);
    }
    s.deleted.clear();
}

void ScriptedPop3Worker::answer(Session &s, const QByteArray &line)
{
    const qsizetype space = line.indexOf(' ');
    const QByteArray verb = (space < 0 ? line : line.left(space)).toUpper();
    const QByteArray arg = space < 0 ? QByteArray() : line.mid(space + 1);
    if (s.authed)
        m_state->mailboxes[s.user].commands.append(line);

    if (verb == "QUIT") {
        const Fault f = faultAt(s, Exchange::Quit);
        if (f == Fault::Close || f == Fault::Silence || f == Fault::Err) {
            // Nothing is committed: the session never ended properly.
            reply(s, f, "+OK bye");
            if (f == Fault::Err)
                closeAfter(s);
            return;
        }
        commit(s);
        reply(s, f, "+OK bye");
        // A garbled line end leaves the connection open: the client must give up by itself.
        if (f != Fault::NoCrLf && f != Fault::LfOnly && f != Fault::Endless)
            closeAfter(s);
        return;
    }
    if (!s.authed) {
        if (verb == "USER") {
            const QString name = QString::fromLatin1(arg);
            const bool known = m_state->mailboxes.contains(name);
            s.user = known ? name : QString();
            reply(s, faultAt(s, Exchange::User, name), known ? "+OK send PASS" : "-ERR unknown user");
        } else if (verb == "PASS") {
            const bool ok = !s.user.isEmpty() && m_state->mailboxes.value(s.user).password == QString::fromLatin1(arg);
            if (ok) {
                s.authed = true;
                s.count = int(m_state->mailboxes.value(s.user).messages.size());
            }
            reply(s, faultAt(s, Exchange::Pass), ok ? "+OK logged in" : "-ERR authentication failed");
        } else {
            s.socket->write("-ERR log in first\r\n");
        }
        return;
    }

    bool numberOk = false;
    const int number = arg.split(' ').value(0).toInt(&numberOk);
    if (verb == "STAT") {
        qint64 size = 0;
        int count = 0;
        const ScriptedPop3State::Mailbox &box = m_state->mailboxes[s.user];
        for (int n = 1; n <= s.count; ++n) {
            if (!s.deleted.contains(n)) {
                ++count;
                size += box.messages.at(n - 1).size();
            }
        }
        const qint64 told = box.claimed >= 0 ? box.claimed : count;
        reply(s, faultAt(s, Exchange::Stat), "+OK " + QByteArray::number(told) + ' ' + QByteArray::number(size));
    } else if (verb == "CAPA") {
        if (m_state->capabilities.isEmpty()) {
            reply(s, faultAt(s, Exchange::Capa), "-ERR unknown command");
            return;
        }
        const QByteArray lines = m_state->capabilities.join("\r\n") + "\r\n";
        reply(s, faultAt(s, Exchange::Capa), "+OK capabilities follow", &lines);
    } else if ((verb == "UIDL" || verb == "LIST") && arg.isEmpty()) {
        const Exchange exchange = verb == "UIDL" ? Exchange::UidlAll : Exchange::ListAll;
        if (m_state->capabilities.isEmpty()) {
            reply(s, faultAt(s, exchange), "-ERR no such message");
            return;
        }
        ScriptedPop3Server::Twist twist = ScriptedPop3Server::Twist::None;
        const Fault f = faultAt(s, exchange, QString(), &twist);
        QByteArray table;
        for (int n = 1; n <= s.count; ++n) {
            if (s.deleted.contains(n))
                continue;
            const QByteArray value = verb == "UIDL" ? uidOf(s.user, n) : QByteArray::number(listedSizeOf(s, n));
            table += QByteArray::number(n) + ' ' + value + "\r\n";
        }
        reply(s, f, "+OK listing follows", &table);
        if (twist == ScriptedPop3Server::Twist::ExtraReply)
            reply(s, Fault::None, "+OK listing follows", &table);
    } else if (verb == "UIDL" || verb == "LIST") {
        const Exchange exchange = verb == "UIDL" ? Exchange::Uidl : Exchange::List;
        ScriptedPop3Server::Twist twist = ScriptedPop3Server::Twist::None;
        const Fault f = numberOk ? faultAt(s, exchange, QString(), &twist) : faultAt(s, exchange);
        const int answered = numberOk ? crossedNumber(s, verb, number, twist) : number;
        const QByteArray *m = numberOk ? message(s, answered) : nullptr;
        if (!m) {
            reply(s, f, "-ERR no such message");
            return;
        }
        const QByteArray value =
            exchange == Exchange::Uidl ? uidOf(s.user, answered) : QByteArray::number(listedSizeOf(s, answered));
        const QByteArray status = "+OK " + QByteArray::number(number) + ' ' + value;
        reply(s, f, status);
        if (twist == ScriptedPop3Server::Twist::ExtraReply)
            reply(s, Fault::None, status);
    } else if (verb == "TOP") {
        ScriptedPop3Server::Twist twist = ScriptedPop3Server::Twist::None;
        const Fault f = faultAt(s, Exchange::Top, QString(), &twist);
        const QByteArray *m = numberOk ? message(s, crossedNumber(s, verb, number, twist)) : nullptr;
        if (!m) {
            reply(s, f, "-ERR no such message");
            return;
        }
        const qsizetype blank = m->indexOf("\r\n\r\n");
        const QByteArray head = blank < 0 ? *m : m->left(blank + 4);
        reply(s, f, "+OK top follows", &head);
        if (twist == ScriptedPop3Server::Twist::ExtraReply)
            reply(s, Fault::None, "+OK top follows", &head);
    } else if (verb == "RETR") {
        const Exchange exchange = ++s.retrieved[number] == 1 ? Exchange::Retr : Exchange::RetrToFile;
        ScriptedPop3Server::Twist twist = ScriptedPop3Server::Twist::None;
        const Fault f = faultAt(s, exchange, QString(), &twist);
        const int answered = numberOk ? crossedNumber(s, verb, number, twist) : 0;
        const QByteArray *m = numberOk ? message(s, answered) : nullptr;
        if (!m) {
            reply(s, f, "-ERR no such message");
            return;
        }
        if (answered == s.alteredNumber && (f == Fault::None || f == Fault::Nul || f == Fault::HugeLine)) {
            // The fault's line is part of this message for the session.
            const QByteArray altered = s.alteredLine + *m;
            reply(s, Fault::None, "+OK " + QByteArray::number(altered.size()) + " octets", &altered);
            return;
        }
        const QByteArray status = "+OK " + QByteArray::number(m->size()) + " octets";
        reply(s, f, status, m);
        if (twist == ScriptedPop3Server::Twist::ExtraReply)
            reply(s, Fault::None, status, m);
    } else if (verb == "DELE") {
        if (!numberOk || !message(s, number)) {
            reply(s, faultAt(s, Exchange::Dele), "-ERR no such message");
            return;
        }
        const Fault f = faultAt(s, Exchange::Dele);
        // A refusal leaves the message alone; a lost or garbled reply does not
        // undo the mark, as on a server that did its work and then failed.
        if (f != Fault::Err)
            s.deleted.insert(number);
        reply(s, f, "+OK marked");
    } else if (verb == "RSET") {
        s.deleted.clear();
        s.socket->write("+OK reset\r\n");
    } else if (verb == "NOOP") {
        s.socket->write("+OK\r\n");
    } else {
        s.socket->write("-ERR unknown command\r\n");
    }
}
