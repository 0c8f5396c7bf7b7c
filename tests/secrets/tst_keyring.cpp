// The keyring wrapper against a real gnome-keyring-daemon on a private bus.

#include "secrets/keyring.h"
#include "tests/support/privatekeyring.h"

#include <QTest>

using namespace Qt::StringLiterals;
using Secrets::Keyring;

class tst_Keyring final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    // First, while the bus has no keyring on it.
    void noKeyringRunning();
    void roundTrip_data();
    void roundTrip();
    // Last: the keyring stays locked.
    void lockedKeyringRefuses();

private:
    void startKeyring();
    PrivateKeyring m_keyring;
    bool m_keyringStarted = false;
};

void tst_Keyring::initTestCase()
{
    if (const QString missing = PrivateKeyring::missingProgram(); !missing.isEmpty())
        QSKIP(qPrintable(missing + u" is not installed (scripts/install-deps.sh installs it)"_s));
    QVERIFY2(m_keyring.startBus(), qPrintable(m_keyring.errorString()));
}

void tst_Keyring::startKeyring()
{
    QVERIFY2(m_keyring.startKeyring(), qPrintable(m_keyring.errorString()));
    m_keyringStarted = true;
}

void tst_Keyring::noKeyringRunning()
{
    if (m_keyringStarted)
        QSKIP("the keyring was started by an earlier test");
    const Keyring keyring;
    const Secrets::Account account{u"pop3s://mail.example.com"_s, u"joe"_s};
    for (const Keyring::Result &result :
         {keyring.probe(), keyring.write(account, Secrets::Kind::Password, u"pw"_s),
          keyring.read(account, Secrets::Kind::Password), keyring.remove(account, Secrets::Kind::Password)}) {
        QCOMPARE(result.status, Keyring::Status::NoKeyring);
        QVERIFY2(result.errorText.startsWith(u"No keyring is running"_s), qPrintable(result.errorText));
    }
}

void tst_Keyring::roundTrip_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("login");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("secret");

    const int password = int(Secrets::Kind::Password);
    const int token = int(Secrets::Kind::RefreshToken);
    QTest::newRow("password") << u"pop3s://mail.example.com"_s << u"joe"_s << password << u"s3cret"_s;
    QTest::newRow("token of the same account")
        << u"pop3s://mail.example.com"_s << u"joe"_s << token << u"1//refresh-token"_s;
    // Separators inside the parts must not make two accounts one entry.
    QTest::newRow("login with @") << u"mail.example.com"_s << u"joe@example.com"_s << password << u"a"_s;
    QTest::newRow("server with @") << u"example.com"_s << u"joe@mail"_s << password << u"b"_s;
    QTest::newRow("colons") << u"pop3://mail:1110"_s << u"password:joe"_s << password << u"c"_s;
    QTest::newRow("unicode") << u"m\u00e4il.example"_s << u"j\u00f6"_s << password << u"p\u00e4ss \u20ac,\r\n"_s;
}

void tst_Keyring::roundTrip()
{
    QFETCH(QString, server);
    QFETCH(QString, login);
    QFETCH(int, kind);
    QFETCH(QString, secret);
    startKeyring();
    const Keyring keyring;
    const Secrets::Account account{server, login};
    const auto what = Secrets::Kind(kind);

    QCOMPARE(keyring.read(account, what).status, Keyring::Status::NotFound);
    const Keyring::Result written = keyring.write(account, what, secret);
    QVERIFY2(written.ok(), qPrintable(written.errorText));
    const Keyring::Result read = keyring.read(account, what);
    QVERIFY2(read.ok(), qPrintable(read.errorText));
    QCOMPARE(read.secret, secret);
    // Kept for the later rows, which must not find it under their own key.
    const Keyring::Result replaced = keyring.write(account, what, secret + u'2');
    QVERIFY(replaced.ok());
    QCOMPARE(keyring.read(account, what).secret, secret + u'2');
}

void tst_Keyring::lockedKeyringRefuses()
{
    startKeyring();
    const Keyring keyring(5000);
    const Secrets::Account account{u"locked.example.com"_s, u"joe"_s};
    QVERIFY2(m_keyring.lock(), qPrintable(m_keyring.errorString()));
    const Keyring::Result written = keyring.write(account, Secrets::Kind::Password, u"pw"_s);
    QCOMPARE(written.status, Keyring::Status::Failed);
    QVERIFY2(written.errorText.contains(u"locked"_s), qPrintable(written.errorText));
}

QTEST_GUILESS_MAIN(tst_Keyring)
#include "tst_keyring.moc"
