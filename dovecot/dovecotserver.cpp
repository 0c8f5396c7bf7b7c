#include "dovecot/dovecotserver.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString dovecotBinary()
{
    const QString inPath = QStandardPaths::findExecutable(u"dovecot"_s);
    if (!inPath.isEmpty())
        return inPath;
    return QStandardPaths::findExecutable(u"dovecot"_s, {u"/usr/sbin"_s, u"/usr/local/sbin"_s});
}

// Unix socket paths under the base folder must fit 108 bytes, so keep it short.
QString shortTempRoot()
{
    const QString temp = QDir::tempPath();
    return temp.size() <= 24 ? temp : u"/tmp"_s;
}

qint64 leadingNumber(const QString &fileName)
{
    const qsizetype dot = fileName.indexOf(u'.');
    return QStringView(fileName).left(dot < 0 ? fileName.size() : dot).toLongLong();
}

// Blocks in the event loop (no spinning) for ms milliseconds.
void pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

DovecotServer::DovecotServer()
{
    m_root = ::geteuid() == 0;
    if (m_root) {
        if (const passwd *pw = ::getpwnam("dovecot")) {
            m_mailUid = pw->pw_uid;
            m_mailGid = pw->pw_gid;
        }
    } else {
        m_mailUid = ::getuid();
        m_mailGid = ::getgid();
    }
    prepareBaseDir();
}

DovecotServer::~DovecotServer()
{
    stop();
    if (!m_baseDir.isEmpty())
        QDir(m_baseDir).removeRecursively();
}

bool DovecotServer::isAvailable()
{
    if (dovecotBinary().isEmpty())
        return false;
    // As root the mail and login processes need their own unprivileged users.
    if (::geteuid() == 0)
        return ::getpwnam("dovecot") != nullptr && ::getpwnam("dovenull") != nullptr;
    return true;
}

bool DovecotServer::prepareBaseDir()
{
    QByteArray tmpl = QFile::encodeName(shortTempRoot() + u"/dv.XXXXXX"_s);
    if (!::mkdtemp(tmpl.data())) {
        m_error = u"cannot create a temporary folder"_s;
        return false;
    }
    m_baseDir = QFile::decodeName(tmpl);
    // The auth process must be able to read the passwd file below it.
    ::chmod(tmpl.constData(), 0755);
    for (const QString &sub : {u"run"_s, u"state"_s, u"mail"_s}) {
        QDir(m_baseDir).mkpath(sub);
        ::chmod(QFile::encodeName(m_baseDir + u'/' + sub).constData(), 0755);
    }
    writePasswd();
    return true;
}

QString DovecotServer::maildir(const QString &user) const { return m_baseDir + u"/mail/"_s + user + u"/Maildir"_s; }

void DovecotServer::giveToMailUser(const QString &path) const
{
    if (m_root && ::chown(QFile::encodeName(path).constData(), m_mailUid, m_mailGid) != 0)
        qWarning("DovecotServer: chown failed for %s", qPrintable(path));
}

void DovecotServer::addUser(const QString &user, const QString &password)
{
    if (m_baseDir.isEmpty())
        return;
    m_users.removeIf([&](const QPair<QString, QString> &u) { return u.first == user; });
    m_users.append({user, password});
    writePasswd();

    const QString home = m_baseDir + u"/mail/"_s + user;
    const QString md = maildir(user);
    for (const QString &dir : QStringList{home, md, md + u"/new"_s, md + u"/cur"_s, md + u"/tmp"_s}) {
        QDir().mkpath(dir);
        giveToMailUser(dir);
    }
}

void DovecotServer::writePasswd()
{
    QByteArray text;
    for (const auto &[user, password] : std::as_const(m_users))
        text += user.toUtf8() + ":{PLAIN}" + password.toUtf8() + "::::::\n";
    // Written in place: the auth process notices the new modification time.
    QFile file(m_baseDir + u"/passwd"_s);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(text);
        file.close();
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                            | QFileDevice::ReadOther);
    }
}

void DovecotServer::addMessage(const QString &user, const QByteArray &content)
{
    if (m_baseDir.isEmpty())
        return;
    if (!QFileInfo::exists(maildir(user)))
        addUser(user, user);

    const int number = ++m_nextNumber[user];
    const QString name = QString::number(1700000000LL + number) + u".M1P1.test"_s;
    QByteArray data = content;
    data.replace("\r\n", "\n");

    // Written under tmp/ and moved into new/ so a running server never sees half a file.
    const QString tmpPath = maildir(user) + u"/tmp/"_s + name;
    QFile file(tmpPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning("DovecotServer: cannot write %s", qPrintable(tmpPath));
        return;
    }
    file.write(data);
    file.close();
    giveToMailUser(tmpPath);
    QFile::rename(tmpPath, maildir(user) + u"/new/"_s + name);
}

QStringList DovecotServer::messageFiles(const QString &user) const
{
    QStringList files;
    for (const QString &sub : {u"/new"_s, u"/cur"_s}) {
        const QDir dir(maildir(user) + sub);
        const QStringList names = dir.entryList(QDir::Files);
        for (const QString &name : names)
            files.append(dir.filePath(name));
    }
    std::sort(files.begin(), files.end(), [](const QString &a, const QString &b) {
        return leadingNumber(QFileInfo(a).fileName()) < leadingNumber(QFileInfo(b).fileName());
    });
    return files;
}

int DovecotServer::messageCount(const QString &user) const { return int(messageFiles(user).size()); }

QList<QByteArray> DovecotServer::messages(const QString &user) const
{
    QList<QByteArray> result;
    const QStringList files = messageFiles(user);
    for (const QString &path : files) {
        QFile file(path);
        result.append(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }
    return result;
}

bool DovecotServer::writeConfig()
{
    QString internalUser = u"dovecot"_s;
    QString internalGroup = u"dovecot"_s;
    QString loginUser = u"dovenull"_s;
    QString chroot;
    if (m_root) {
        chroot = u"login"_s;
    } else {
        const passwd *pw = ::getpwuid(m_mailUid);
        const group *gr = ::getgrgid(m_mailGid);
        if (!pw || !gr) {
            m_error = u"cannot name the current user or group"_s;
            return false;
        }
        internalUser = loginUser = QString::fromLocal8Bit(pw->pw_name);
        internalGroup = QString::fromLocal8Bit(gr->gr_name);
    }

    const QString t = m_baseDir;
    QString conf = u"base_dir = %1/run\n"
                   "state_dir = %1/state\n"
                   "instance_name = pop3test-%2\n"
                   "log_path = %1/dovecot.log\n"
                   "info_log_path = %1/dovecot.log\n"
                   "protocols = pop3\n"
                   "listen = %3\n"
                   "ssl = no\n"
                   "disable_plaintext_auth = no\n"
                   "auth_mechanisms = plain login\n"
                   "default_internal_user = %4\n"
                   "default_internal_group = %5\n"
                   "default_login_user = %6\n"
                   "first_valid_uid = %7\n"
                   "mail_location = maildir:~/Maildir\n"
                   "pop3_uidl_format = %f\n"
                   "auth_failure_delay = 0\n"
                   "passdb {\n"
                   "  driver = passwd-file\n"
                   "  args = scheme=PLAIN username_format=%u %1/passwd\n"
                   "}\n"
                   "userdb {\n"
                   "  driver = static\n"
                   "  args = uid=%7 gid=%8 home=%1/mail/%u\n"
                   "}\n"
                   "protocol pop3 {\n"
                   "  mail_max_userip_connections = 50\n"
                   "}\n"
                   "service pop3-login {\n"
                   "  chroot = %9\n"
                   "  inet_listener pop3 {\n"
                   "    address = %3\n"
                   "    port = %10\n"
                   "  }\n"
                   "}\n"
                   "service anvil {\n"
                   "  chroot = %11\n"
                   "  unix_listener anvil-auth-penalty {\n"
                   "    mode = 0\n"
                   "  }\n"
                   "}\n"_s
                       .arg(t, QFileInfo(t).fileName().mid(3) + u'-' + QString::number(m_port), m_address, internalUser,
                            internalGroup, loginUser, QString::number(m_mailUid), QString::number(m_mailGid), chroot)
                       .arg(QString::number(m_port), m_root ? u"empty"_s : QString());

    if (!m_tlsCert.isEmpty()) {
        conf.replace(u"ssl = no\n"_s, u"ssl = yes\nssl_cert = <%1\nssl_key = <%2\n"_s.arg(m_tlsCert, m_tlsKey));
        const QString listener = u"  inet_listener pop3s {\n"
                                 "    address = %1\n"
                                 "    port = %2\n"
                                 "    ssl = yes\n"
                                 "  }\n"_s.arg(m_address)
                                     .arg(m_tlsPort);
        conf.replace(u"  }\n}\nservice anvil {\n"_s, u"  }\n"_s + listener + u"}\nservice anvil {\n"_s);
    }

    if (!m_introspectionUrl.isEmpty()) {
        // The token mechanisms go to the provider, the password ones to the
        // passwd file: a wrong password never reaches the provider.
        const QString mechanisms = m_oauth2Mechanisms.join(u' ');
        conf.replace(u"auth_mechanisms = plain login\n"_s, u"auth_mechanisms = plain login %1\n"_s.arg(mechanisms));
        conf.replace(u"  driver = passwd-file\n"_s, u"  driver = passwd-file\n  mechanisms = plain login\n"_s);
        conf.replace(u"userdb {\n"_s, u"passdb {\n"
                                      "  driver = oauth2\n"
                                      "  mechanisms = %2\n"
                                      "  args = %1/oauth2.conf\n"
                                      "}\n"
                                      "userdb {\n"_s.arg(t, mechanisms));
        QFile oauth2(t + u"/oauth2.conf"_s);
        if (!oauth2.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || oauth2.write(u"introspection_mode = post\n"
                            "introspection_url = %1\n"
                            "force_introspection = yes\n"
                            "username_attribute = username\n"
                            "active_attribute = active\n"
                            "active_value = true\n"_s.arg(m_introspectionUrl)
                                .toUtf8())
                   < 0) {
            m_error = u"cannot write oauth2.conf"_s;
            return false;
        }
        oauth2.close();
        oauth2.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                              | QFileDevice::ReadOther);
    }

    QFile file(t + u"/dovecot.conf"_s);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = u"cannot write dovecot.conf"_s;
        return false;
    }
    file.write(conf.toUtf8());
    return true;
}

bool DovecotServer::start(const QString &address, quint16 port)
{
    if (m_process) {
        m_error = u"already running"_s;
        return false;
    }
    if (m_baseDir.isEmpty())
        return false;
    if (!isAvailable()) {
        m_error = u"dovecot is not installed"_s;
        return false;
    }
    m_address = address;
    m_port = port;
    if (m_port == 0) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress(address), 0)) {
            m_error = u"no free port on "_s + address + u": "_s + probe.errorString();
            return false;
        }
        m_port = probe.serverPort();
    }
    if (!m_tlsCert.isEmpty() && m_tlsPort == 0) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress(address), 0) || probe.serverPort() == m_port) {
            m_error = u"no free TLS port on "_s + address;
            return false;
        }
        m_tlsPort = probe.serverPort();
    }
    // A fresh run folder every start: a leftover socket stalls the next start.
    QDir(m_baseDir + u"/run"_s).removeRecursively();
    QDir(m_baseDir).mkpath(u"run"_s);
    ::chmod(QFile::encodeName(m_baseDir + u"/run"_s).constData(), 0755);
    if (!writeConfig())
        return false;

    // Something else already answering there would pass for this server.
    if (portAnswers(address, m_port)) {
        m_error = u"%1:%2 is already in use"_s.arg(address).arg(m_port);
        return false;
    }

    m_process = new QProcess;
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // The server must not outlive a test process that crashes.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process->setStandardOutputFile(m_baseDir + u"/stdout.log"_s);
    m_process->start(dovecotBinary(), {u"-F"_s, u"-c"_s, m_baseDir + u"/dovecot.conf"_s});
    if (!m_process->waitForStarted(5000)) {
        m_error = u"dovecot did not start: "_s + m_process->errorString();
        delete m_process;
        m_process = nullptr;
        return false;
    }
    if (!waitForGreeting(15000)) {
        const QString why = m_error;
        stop();
        m_error = why + u"\n--- dovecot.log ---\n"_s + logTail();
        return false;
    }
    m_error.clear();
    return true;
}

bool DovecotServer::portAnswers(const QString &address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(address), port);
    const bool answered = socket.waitForConnected(500);
    socket.abort();
    return answered;
}

bool DovecotServer::waitForGreeting(int timeoutMs)
{
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.start(timeoutMs);
    while (deadline.isActive()) {
        if (m_process->state() != QProcess::Running) {
            QFile out(m_baseDir + u"/stdout.log"_s);
            m_error = u"dovecot exited with code %1"_s.arg(m_process->exitCode());
            if (out.open(QIODevice::ReadOnly))
                m_error += u": "_s + QString::fromLocal8Bit(out.readAll().trimmed());
            return false;
        }
        QTcpSocket socket;
        QByteArray received;
        QEventLoop loop;
        QTimer attempt;
        attempt.setSingleShot(true);
        QObject::connect(&attempt, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&socket, &QTcpSocket::readyRead, &loop, [&] {
            received += socket.readAll();
            if (received.contains('\n'))
                loop.quit();
        });
        QObject::connect(&socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
        QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
        QObject::connect(m_process, &QProcess::finished, &loop, &QEventLoop::quit);
        attempt.start(1000);
        socket.connectToHost(QHostAddress(m_address), m_port);
        loop.exec();
        if (received.startsWith("+OK")) {
            socket.write("QUIT\r\n");
            socket.flush();
            socket.abort();
            return true;
        }
        socket.abort();
        pause(100);
    }
    m_error = u"no greeting from %1:%2 within %3 ms"_s.arg(m_address).arg(m_port).arg(timeoutMs);
    return false;
}

void DovecotServer::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate(); // SIGTERM to the master's own pid; it ends its children
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    delete m_process;
    m_process = nullptr;
}

bool DovecotServer::isRunning() const { return m_process && m_process->state() == QProcess::Running; }

QString DovecotServer::address() const { return m_address; }
quint16 DovecotServer::port() const { return m_port; }
QString DovecotServer::errorString() const { return m_error; }
QString DovecotServer::baseDir() const { return m_baseDir; }

QString DovecotServer::logTail(int maxLines) const
{
    QFile file(m_baseDir + u"/dovecot.log"_s);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.size() > maxLines)
        lines = lines.mid(lines.size() - maxLines);
    return QString::fromLocal8Bit(lines.join('\n'));
}

void DovecotServer::enableTls(const QString &certPath, const QString &keyPath, quint16 tlsPort)
{
    m_tlsCert = certPath;
    m_tlsKey = keyPath;
    m_tlsPort = tlsPort;
}

quint16 DovecotServer::tlsPort() const { return m_tlsPort; }

void DovecotServer::enableOAuth2(const QString &introspectionUrl, const QStringList &mechanisms)
{
    m_introspectionUrl = introspectionUrl;
    m_oauth2Mechanisms = mechanisms;
}

bool DovecotServer::createCertificate(const QString &certPath, const QString &keyPath, const QStringList &ipAddresses,
                                      QString *error)
{
    QStringList names{u"DNS:localhost"_s};
    for (const QString &ip : ipAddresses)
        names << u"IP:"_s + ip;
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(u"openssl"_s,
                  {u"req"_s, u"-x509"_s, u"-newkey"_s, u"rsa:2048"_s, u"-nodes"_s, u"-days"_s, u"2"_s, u"-subj"_s,
                   u"/CN="_s + (ipAddresses.isEmpty() ? u"localhost"_s : ipAddresses.first()), u"-addext"_s,
                   u"subjectAltName="_s + names.join(u','), u"-keyout"_s, keyPath, u"-out"_s, certPath});
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        if (error)
            *error = u"openssl failed: "_s + openssl.errorString() + u' ' + QString::fromLocal8Bit(openssl.readAll());
        return false;
    }
    // The server's processes read both files.
    QFile::setPermissions(certPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                                        | QFileDevice::ReadOther);
    return true;
}
