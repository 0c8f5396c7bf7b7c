#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class QProcess;

// A throw-away Dovecot POP3 server with its own config, base folder and
// Maildir mailboxes, started and stopped by the test that owns it.
class DovecotServer final
{
public:
    DovecotServer();
    ~DovecotServer();
    DovecotServer(const DovecotServer &) = delete;
    DovecotServer &operator=(const DovecotServer &) = delete;

    static bool isAvailable();

    void addUser(const QString &user, const QString &password);
    // Messages are numbered in the order added; LF or CR LF in, stored with LF.
    // Works before and after start(); an unknown user is added with password = name.
    void addMessage(const QString &user, const QByteArray &content);

    // Turns TLS on for the next start(): STLS on the plain listener and a
    // second listener with TLS from the first byte on tlsPort (0: a free one).
    void enableTls(const QString &certPath, const QString &keyPath, quint16 tlsPort = 0);
    quint16 tlsPort() const;
    // Turns on the token mechanisms (SASL names, in lower case) for the next
    // start(), beside the plain logins: tokens are checked by POSTing them to
    // introspectionUrl (RFC 7662; the answer's "active" must be true and its
    // "username" the login). Passwords are still checked against the passwd
    // file only.
    void enableOAuth2(const QString &introspectionUrl,
                      const QStringList &mechanisms = {QStringLiteral("xoauth2"), QStringLiteral("oauthbearer")});
    // A self-signed certificate (its own CA) for the given IP addresses and
    // "localhost", made with the openssl tool.
    static bool createCertificate(const QString &certPath, const QString &keyPath, const QStringList &ipAddresses,
                                  QString *error = nullptr);

    // port 0 picks a free port. Returns once the greeting has arrived.
    bool start(const QString &address = QStringLiteral("127.0.0.1"), quint16 port = 0);
    void stop();
    bool isRunning() const;

    QString address() const;
    quint16 port() const;
    QString errorString() const;
    QString baseDir() const;
    QString logTail(int maxLines = 30) const;

    int messageCount(const QString &user) const;
    QList<QByteArray> messages(const QString &user) const;

private:
    bool prepareBaseDir();
    QString maildir(const QString &user) const;
    QStringList messageFiles(const QString &user) const;
    void writePasswd();
    void giveToMailUser(const QString &path) const;
    bool writeConfig();
    bool waitForGreeting(int timeoutMs);
    static bool portAnswers(const QString &address, quint16 port);

    QString m_baseDir;
    QString m_address;
    quint16 m_port = 0;
    QString m_error;
    QProcess *m_process = nullptr;
    QList<QPair<QString, QString>> m_users;
    QHash<QString, int> m_nextNumber;
    uint m_mailUid = 0;
    uint m_mailGid = 0;
    bool m_root = false;
    QString m_tlsCert;
    QString m_tlsKey;
    quint16 m_tlsPort = 0;
    QString m_introspectionUrl;
    QStringList m_oauth2Mechanisms;
};
