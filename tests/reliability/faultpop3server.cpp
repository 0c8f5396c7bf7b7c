#include "tests/reliability/faultpop3server.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <algorithm>
#include <map>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype HugeLineSize = 1024 * 1024;
// An endless reply is topped up in pieces while the client reads, and given
// up after this much, should a client never stop reading.
constexpr qsizetype EndlessPiece = 64 * 1024;
constexpr qint64 EndlessLimit = qint64(1) << 30;

struct Mailbox {
    QString password;
    QList<QByteArray> messages;  // wire form, CR LF, not dot-stuffed
    QList<QByteArray> commands;
    int highest = 0;
    qint64 claimed = -1;  // what STAT tells, when not the truth
};

struct Session {
    QTcpSocket *socket = nullptr;
    QByteArray in;
    QString user;
    bool authed = false;
    bool silent = false;
    bool closing = false;
    int count = 0;
    QSet<int> deleted;
    QHash<int, int> retrieved;
    QByteArray endlessPiece;  // empty unless an endless reply is running
    qint64 endlessSent = 0;
};

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

struct FaultPop3Server::Impl {
    mutable QMutex mutex;
    QThread thread;
    QObject *context = nullptr;  // lives in the server thread
    QTcpServer *server = nullptr;
    std::map<QTcpSocket *, Session> sessions;
    QHash<QString, Mailbox> boxes;
    QString faultUser;
    Step faultStep = Step::Greeting;
    Fault fault = Fault::None;
    bool fired = false;
    bool firstConnection = true;
    quint16 port = 0;

    void accept();
    void read(QTcpSocket *socket);
    void drop(QTcpSocket *socket);
    void handle(Session &s, const QByteArray &line);
    // The fault due at this step, or None (a fault fires once).
    Fault faultAt(const Session &s, Step step, const QString &userHint = QString());
    void send(Session &s, const QByteArray &bytes);
    void pumpEndless(QTcpSocket *socket);
    void closeAfter(Session &s, const QByteArray &bytes = {});
    // Sends a reply, misbehaving if the fault is due at this step.
    void reply(Session &s, Fault f, const QByteArray &status, const QByteArray *body = nullptr);
    void commit(Session &s);
    const QByteArray *message(Session &s, int number);
};

FaultPop3Server::Fault FaultPop3Server::Impl::faultAt(const Session &s, Step step, const QString &userHint)
{
    if (fired || fault == Fault::None || step != faultStep)
        return Fault::None;
    if (step != Step::Greeting && (userHint.isEmpty() ? s.user : userHint) != faultUser)
        return Fault::None;
    fired = true;
    return fault;
}

void FaultPop3Server::Impl::send(Session &s, const QByteArray &bytes)
{
    if (!bytes.isEmpty())
        s.socket->write(bytes);
}

void FaultPop3Server::Impl::closeAfter(Session &s, const QByteArray &bytes)
{
    send(s, bytes);
    s.closing = true;
    s.socket->disconnectFromHost();
}

void FaultPop3Server::Impl::reply(Session &s, Fault f, const QByteArray &status, const QByteArray *body)
{
    const bool multi = body != nullptr;
    auto whole = [&](const QByteArray &first, const QByteArray &extraHeader) {
        QByteArray out = first + "\r\n";
        if (multi)
            out += extraHeader + dotStuffed(*body) + ".\r\n";
        return out;
    };
    switch (f) {
    case Fault::None:
    case Fault::FaultCount:
        if (!multi) {
            send(s, whole(status, {}));
            return;
        }
        // In pieces, so that a large message is not copied on its way out.
        send(s, status + "\r\n");
        send(s, dotStuffed(*body));
        send(s, ".\r\n");
        return;
    case Fault::Close:
        s.closing = true;
        s.socket->abort();
        return;
    case Fault::Silence:
        s.silent = true;
        return;
    case Fault::Err:
        send(s, "-ERR injected failure\r\n");
        return;
    case Fault::NoOk:
        send(s, whole("ok" + status.mid(3), {}));
        return;
    case Fault::NoCrLf:
        send(s, status);
        return;
    case Fault::LfOnly: {
        QByteArray out = whole(status, {});
        out.replace("\r\n", "\n");
        send(s, out);
        return;
    }
    case Fault::Nul:
        if (multi)
            send(s, whole(status, QByteArray("X-Nul: a\0b\r\n", 12)));
        else
            send(s, status + QByteArray(" \0x\r\n", 5));
        return;
    case Fault::HugeLine:
        if (multi)
            send(s, whole(status, "X-Huge: " + QByteArray(HugeLineSize, 'h') + "\r\n"));
        else
            send(s, status + ' ' + QByteArray(HugeLineSize, 'h') + "\r\n");
        return;
    case Fault::Endless:
        send(s, status + (multi ? "\r\n" : " "));
        s.endlessPiece = multi ? QByteArray(QByteArray(62, 'e') + "\r\n").repeated(EndlessPiece / 64) : QByteArray(EndlessPiece, 'e');
        pumpEndless(s.socket);
        return;
    }
}

void FaultPop3Server::Impl::pumpEndless(QTcpSocket *socket)
{
    auto it = sessions.find(socket);
    if (it == sessions.end())
        return;
    Session &s = it->second;
    while (!s.endlessPiece.isEmpty() && !s.closing && s.endlessSent < EndlessLimit
           && socket->bytesToWrite() < 4 * EndlessPiece) {
        socket->write(s.endlessPiece);
        s.endlessSent += s.endlessPiece.size();
    }
}

void FaultPop3Server::Impl::accept()
{
    while (server->hasPendingConnections()) {
        QTcpSocket *socket = server->nextPendingConnection();
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        Session &s = sessions[socket];
        s.socket = socket;
        QObject::connect(socket, &QTcpSocket::readyRead, context, [this, socket] { read(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, context, [this, socket] { drop(socket); });
        QObject::connect(socket, &QTcpSocket::bytesWritten, context, [this, socket] { pumpEndless(socket); });
        QMutexLocker lock(&mutex);
        const bool first = firstConnection;
        firstConnection = false;
        const Fault f = first ? faultAt(s, Step::Greeting) : Fault::None;
        reply(s, f, "+OK fault server ready");
        // A server that refuses at the greeting goes away.
        if (f == Fault::Err)
            closeAfter(s);
    }
}

void FaultPop3Server::Impl::drop(QTcpSocket *socket)
{
    // Later: an abort inside a read handler must not pull the session from under it.
    QMetaObject::invokeMethod(context, [this, socket] {
        sessions.erase(socket);
        socket->deleteLater();
    }, Qt::QueuedConnection);
}

void FaultPop3Server::Impl::read(QTcpSocket *socket)
{
    auto it = sessions.find(socket);
    if (it == sessions.end())
        return;
    Session &s = it->second;
    s.in += socket->readAll();
    qsizetype end;
    while (!s.closing && (end = s.in.indexOf("\r\n")) >= 0) {
        const QByteArray line = s.in.left(end);
        s.in.remove(0, end + 2);
        QMutexLocker lock(&mutex);
        if (!s.silent)
            handle(s, line);
    }
}

const QByteArray *FaultPop3Server::Impl::message(Session &s, int number)
{
    Mailbox &box = boxes[s.user];
    box.highest = std::max(box.highest, number);
    if (number < 1 || number > s.count || s.deleted.contains(number))
        return nullptr;
    return &box.messages.at(number - 1);
}

void FaultPop3Server::Impl::commit(Session &s)
{
    if (!s.authed)
        return;
    QList<int> numbers(s.deleted.cbegin(), s.deleted.cend());
    std::sort(numbers.begin(), numbers.end(), std::greater<int>());
    Mailbox &box = boxes[s.user];
    for (int n : std::as_const(numbers))
        box.messages.removeAt(n - 1);
    s.deleted.clear();
}

void FaultPop3Server::Impl::handle(Session &s, const QByteArray &line)
{
    const qsizetype space = line.indexOf(' ');
    const QByteArray verb = (space < 0 ? line : line.left(space)).toUpper();
    const QByteArray arg = space < 0 ? QByteArray() : line.mid(space + 1);
    if (s.authed)
        boxes[s.user].commands.append(line);

    if (verb == "QUIT") {
        const Fault f = faultAt(s, Step::Quit);
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
            if (boxes.contains(name)) {
                s.user = name;
                reply(s, faultAt(s, Step::User, name), "+OK send PASS");
            } else {
                s.user.clear();
                reply(s, faultAt(s, Step::User, name), "-ERR unknown user");
            }
        } else if (verb == "PASS") {
            if (!s.user.isEmpty() && boxes.value(s.user).password == QString::fromLatin1(arg)) {
                s.authed = true;
                s.count = int(boxes.value(s.user).messages.size());
                reply(s, faultAt(s, Step::Pass), "+OK logged in");
            } else {
                reply(s, faultAt(s, Step::Pass), "-ERR authentication failed");
            }
        } else {
            send(s, "-ERR log in first\r\n");
        }
        return;
    }

    bool numberOk = false;
    const int number = arg.split(' ').value(0).toInt(&numberOk);
    if (verb == "STAT") {
        qint64 size = 0;
        int count = 0;
        const Mailbox &box = boxes[s.user];
        for (int n = 1; n <= s.count; ++n) {
            if (!s.deleted.contains(n)) {
                ++count;
                size += box.messages.at(n - 1).size();
            }
        }
        const qint64 told = box.claimed >= 0 ? box.claimed : count;
        reply(s, faultAt(s, Step::Stat), "+OK " + QByteArray::number(told) + ' ' + QByteArray::number(size));
    } else if (verb == "CAPA") {
        reply(s, faultAt(s, Step::Capa), "-ERR unknown command");
    } else if (verb == "UIDL" || verb == "LIST") {
        const bool all = arg.isEmpty();
        const Step step = verb == "UIDL" ? (all ? Step::UidlAll : Step::Uidl) : (all ? Step::ListAll : Step::List);
        const QByteArray *m = numberOk ? message(s, number) : nullptr;
        if (!m) {
            reply(s, faultAt(s, step), "-ERR no such message");
            return;
        }
        const QByteArray value = step == Step::Uidl ? "uid-" + QByteArray::number(number) : QByteArray::number(m->size());
        reply(s, faultAt(s, step), "+OK " + QByteArray::number(number) + ' ' + value);
    } else if (verb == "TOP") {
        const QByteArray *m = numberOk ? message(s, number) : nullptr;
        if (!m) {
            reply(s, faultAt(s, Step::Top), "-ERR no such message");
            return;
        }
        const qsizetype blank = m->indexOf("\r\n\r\n");
        const QByteArray head = blank < 0 ? *m : m->left(blank + 4);
        reply(s, faultAt(s, Step::Top), "+OK top follows", &head);
    } else if (verb == "RETR") {
        const QByteArray *m = numberOk ? message(s, number) : nullptr;
        const Step step = ++s.retrieved[number] == 1 ? Step::Retr : Step::RetrToFile;
        if (!m) {
            reply(s, faultAt(s, step), "-ERR no such message");
            return;
        }
        reply(s, faultAt(s, step), "+OK " + QByteArray::number(m->size()) + " octets", m);
    } else if (verb == "DELE") {
        if (!numberOk || !message(s, number)) {
            reply(s, faultAt(s, Step::Dele), "-ERR no such message");
            return;
        }
        const Fault f = faultAt(s, Step::Dele);
        // A refusal leaves the message alone; a lost or garbled reply does not
        // undo the mark, as on a server that did its work and then failed.
        if (f != Fault::Err)
            s.deleted.insert(number);
        reply(s, f, "+OK marked");
    } else if (verb == "RSET") {
        s.deleted.clear();
        send(s, "+OK reset\r\n");
    } else if (verb == "NOOP") {
        send(s, "+OK\r\n");
    } else {
        send(s, "-ERR unknown command\r\n");
    }
}

FaultPop3Server::FaultPop3Server()
    : m_impl(std::make_unique<Impl>())
{
    m_impl->thread.setObjectName(u"FaultPop3Server"_s);
    m_impl->context = new QObject;
    m_impl->context->moveToThread(&m_impl->thread);
    QObject::connect(&m_impl->thread, &QThread::finished, m_impl->context, &QObject::deleteLater);
    m_impl->thread.start();
}

FaultPop3Server::~FaultPop3Server()
{
    Impl *impl = m_impl.get();
    QMetaObject::invokeMethod(impl->context, [impl] {
        for (auto &entry : impl->sessions) {
            entry.first->disconnect(impl->context);
            entry.first->abort();
            delete entry.first;
        }
        impl->sessions.clear();
        delete impl->server;
        impl->server = nullptr;
    }, Qt::BlockingQueuedConnection);
    impl->thread.quit();
    impl->thread.wait();
}

void FaultPop3Server::addUser(const QString &user, const QString &password, const QList<QByteArray> &messages)
{
    QMutexLocker lock(&m_impl->mutex);
    Mailbox &box = m_impl->boxes[user];
    box.password = password;
    for (const QByteArray &m : messages)
        box.messages.append(toWire(m));
}

void FaultPop3Server::addGeneratedUser(const QString &user, const QString &password, int count,
                                       std::function<QByteArray(int)> make)
{
    QMutexLocker lock(&m_impl->mutex);
    Mailbox &box = m_impl->boxes[user];
    box.password = password;
    box.messages.reserve(count);
    for (int n = 1; n <= count; ++n)
        box.messages.append(toWire(make(n)));
}

void FaultPop3Server::claimCount(const QString &user, qint64 count)
{
    QMutexLocker lock(&m_impl->mutex);
    m_impl->boxes[user].claimed = count;
}

void FaultPop3Server::setFault(const QString &user, Step step, Fault fault)
{
    QMutexLocker lock(&m_impl->mutex);
    m_impl->faultUser = user;
    m_impl->faultStep = step;
    m_impl->fault = fault;
    m_impl->fired = false;
}

bool FaultPop3Server::start(const QString &address)
{
    Impl *impl = m_impl.get();
    bool ok = false;
    QMetaObject::invokeMethod(impl->context, [impl, address, &ok] {
        impl->server = new QTcpServer(impl->context);
        QObject::connect(impl->server, &QTcpServer::newConnection, impl->context, [impl] { impl->accept(); });
        ok = impl->server->listen(QHostAddress(address), 0);
        QMutexLocker lock(&impl->mutex);
        impl->port = impl->server->serverPort();
    }, Qt::BlockingQueuedConnection);
    return ok;
}

quint16 FaultPop3Server::port() const
{
    QMutexLocker lock(&m_impl->mutex);
    return m_impl->port;
}

QList<QByteArray> FaultPop3Server::mailbox(const QString &user) const
{
    QMutexLocker lock(&m_impl->mutex);
    return m_impl->boxes.value(user).messages;
}

QList<QByteArray> FaultPop3Server::commands(const QString &user) const
{
    QMutexLocker lock(&m_impl->mutex);
    return m_impl->boxes.value(user).commands;
}

int FaultPop3Server::highestMessageRequested(const QString &user) const
{
    QMutexLocker lock(&m_impl->mutex);
    return m_impl->boxes.value(user).highest;
}

bool FaultPop3Server::faultFired() const
{
    QMutexLocker lock(&m_impl->mutex);
    return m_impl->fired;
}

QString FaultPop3Server::stepName(Step step)
{
    static const char *const names[] = {"greeting", "USER", "PASS", "STAT", "UIDL", "TOP",
                                        "LIST", "RETR", "RETR-to-file", "DELE", "QUIT", "CAPA",
                                        "UIDL-all", "LIST-all"};
    return QString::fromLatin1(names[int(step)]);
}

QString FaultPop3Server::faultName(Fault fault)
{
    static const char *const names[] = {"none", "close", "silence", "-ERR", "no +OK",
                                        "no CR LF", "LF only", "NUL byte", "1 MB line", "endless reply"};
    return QString::fromLatin1(names[int(fault)]);
}

QByteArray FaultPop3Server::toWire(const QByteArray &message)
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
