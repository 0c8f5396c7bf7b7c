// Signing in with a browser and keeping the tokens: the browser step driven
// by a stand-in that fetches the sign-in page and follows its redirect, the
// account dialog, refreshing on expiry, a refused refresh, and a scan of a
// token account beside a password account against Dovecot.

#include "config/listtable.h"
#include "config/widgets/frmaddaccount.h"
#include "config/widgets/savereminder.h"
#include "config/widgets/signinpanel.h"
#include "dovecot/dovecotserver.h"
#include "pop3/host/tarnpostproxy.h"
#include "pop3/host/tarnpostsite.h"
#include "scan/headlessform.h"
#include "scan/mailboxscanner.h"
#include "secrets/keyring.h"
#include "signin/browsersignin.h"
#include "signin/tokenkeeper.h"
#include "state/scanlog.h"
#include "state/statedatabase.h"
#include "state/tokenaccounts.h"
#include "tests/support/oauth2testprovider.h"
#include "tests/support/privatekeyring.h"
#include "tests/support/programfolder.h"

#include <QComboBox>
#include <QDirIterator>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

using namespace Qt::StringLiterals;
using SignIn::BrowserSignIn;
using SignIn::TokenKeeper;

namespace {

// The desktop's browser, as far as the flow can tell: fetches the page and
// follows the provider's redirect to our listener.
class StandInBrowser final
{
public:
    bool open(const QUrl &url)
    {
        opened.append(url);
        QNetworkReply *reply = m_network.get(QNetworkRequest(url));
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
            lastStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            reply->deleteLater();
        });
        return true;
    }

    QList<QUrl> opened;
    int lastStatus = 0;

private:
    QNetworkAccessManager m_network;
};

SignIn::Provider testProvider(const OAuth2TestProvider &provider, const QString &clientId)
{
    SignIn::Provider p = *SignIn::Provider::preset(u"generic"_s);
    p.clientId = clientId;
    p.authorizationUrl = provider.url(u"/authorize"_s);
    p.tokenUrl = provider.url(u"/token"_s);
    p.scope = u"pop offline_access"_s;
    return p;
}

TokenAccounts::Account facts(const OAuth2TestProvider &provider, const QString &server, const QString &login)
{
    TokenAccounts::Account account;
    account.server = server;
    account.login = login;
    account.provider = u"generic"_s;
    account.clientId = u"quellmail-test"_s;
    account.authorizationUrl = provider.url(u"/authorize"_s);
    account.tokenUrl = provider.url(u"/token"_s);
    account.scope = u"pop offline_access"_s;
    return account;
}

QStringList filesHolding(const QString &folder, const QString &secret)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && file.readAll().contains(secret.toUtf8()))
            found.append(path);
    }
    return found;
}

// Also inside base64 (a SASL response) at any of its three alignments; the
// groups at either end mix in the neighbouring bytes, so they are left out.
QStringList filesHoldingToken(const QString &folder, const QString &token)
{
    QStringList found = filesHolding(folder, token);
    for (int shift = 0; shift < 3; ++shift) {
        const QByteArray encoded = QByteArray(QByteArray(shift, 'x') + token.toUtf8()).toBase64();
        found += filesHolding(folder, QString::fromLatin1(encoded.mid(4, encoded.size() - 8)));
    }
    found.removeDuplicates();
    return found;
}

QString keyringSecret(const QString &server, const QString &login, Secrets::Kind kind)
{
    return Secrets::Keyring().read({server, login}, kind).secret;
}

} // namespace

class tst_SignIn final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void browserSignIn_data();
    void browserSignIn();
    void cancelWhileWaiting_data();
    void cancelWhileWaiting();
    void dialogSignsIn();
    void accessToken_data();
    void accessToken();
    void scanTokenAndPasswordAccounts_data();
    void scanTokenAndPasswordAccounts();

private:
    PrivateKeyring m_keyring;
    OAuth2TestProvider m_provider;
    StandInBrowser *m_browser = nullptr;
};

void tst_SignIn::initTestCase()
{
    if (const QString missing = PrivateKeyring::missingProgram(); !missing.isEmpty())
        QSKIP(qPrintable(missing + u" is not installed (scripts/install-deps.sh installs it)"_s));
    QVERIFY2(m_keyring.startKeyring(), qPrintable(m_keyring.errorString()));
    QVERIFY(m_provider.start());
    m_browser = new StandInBrowser;
    BrowserSignIn::setOpener([this](const QUrl &url) { return m_browser->open(url); });
}

void tst_SignIn::init()
{
    m_provider.setAccessTokenLifetime(3600);
    if (m_browser)
        m_browser->opened.clear();
}

void tst_SignIn::browserSignIn_data()
{
    QTest::addColumn<QString>("clientId");
    QTest::addColumn<bool>("browserStarts");
    QTest::addColumn<QString>("error");
    QTest::newRow("signed in") << u"quellmail-test"_s << true << QString();
    QTest::newRow("no browser") << u"quellmail-test"_s << false << u"No browser could be opened"_s;
    // The provider shows its own error page and never calls back.
    QTest::newRow("unknown client") << u"someone-else"_s << true << u"not finished in time"_s;
    QTest::newRow("no client id") << QString() << true << u"No client id"_s;
}

void tst_SignIn::browserSignIn()
{
    QFETCH(QString, clientId);
    QFETCH(bool, browserStarts);
    QFETCH(QString, error);
    const BrowserSignIn::Opener standIn = BrowserSignIn::opener();
    if (!browserStarts)
        BrowserSignIn::setOpener([](const QUrl &) { return false; });
    const int tokenRequests = m_provider.requestCount(u"/token"_s);

    const BrowserSignIn::Result result =
        BrowserSignIn().run(testProvider(m_provider, clientId), u"alice@example.org"_s, 3000);
    BrowserSignIn::setOpener(standIn);

    QCOMPARE(result.error.isEmpty(), error.isEmpty());
    QVERIFY2(result.error.contains(error), qPrintable(result.error));
    QCOMPARE(result.ok, error.isEmpty());
    if (!result.ok) {
        QCOMPARE(m_provider.requestCount(u"/token"_s), tokenRequests);
        return;
    }
    // The provider checked the PKCE verifier against the challenge before handing these out.
    QCOMPARE(m_provider.requestCount(u"/token"_s), tokenRequests + 1);
    QCOMPARE(m_browser->opened.size(), 1);
    const QUrlQuery asked(m_browser->opened.first());
    QCOMPARE(asked.queryItemValue(u"code_challenge_method"_s), u"S256"_s);
    QCOMPARE(asked.queryItemValue(u"login_hint"_s, QUrl::FullyDecoded), u"alice@example.org"_s);
    QVERIFY(QUrl(asked.queryItemValue(u"redirect_uri"_s, QUrl::FullyDecoded)).host() == u"127.0.0.1"_s);
    QVERIFY(!result.tokens.accessToken.isEmpty());
    QVERIFY(!result.tokens.refreshToken.isEmpty());
    const qint64 lifetime = QDateTime::currentDateTimeUtc().secsTo(result.tokens.expiresAt);
    QVERIFY2(lifetime > 3500 && lifetime <= 3600, qPrintable(QString::number(lifetime)));
}

void tst_SignIn::cancelWhileWaiting_data()
{
    // How the user gives up while the browser's answer is awaited.
    QTest::addColumn<QString>("press");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Cancel sign-in") << u"cmdSignIn"_s << false;
    QTest::newRow("dialog's Cancel") << u"cmdCancelAccountInfo"_s << true;
    QTest::newRow("Escape") << u"Escape"_s << true;
}

void tst_SignIn::cancelWhileWaiting()
{
    QFETCH(QString, press);
    QFETCH(bool, closes);
    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "mail.example,joe,joepw\r\n"));
    auto form = ProgramTest::openWindow(folder);
    frmAddAccount dialog(*form, form.get());
    SignInPanel *panel = dialog.signInPanel();
    const QString server = u"pop3s://cancel.example.org"_s;
    const int tokenRequests = m_provider.requestCount(u"/token"_s);

    // A browser that shows the page and never comes back: only the user's press ends the wait.
    QUrl opened;
    const BrowserSignIn::Opener standIn = BrowserSignIn::opener();
    BrowserSignIn::setOpener([&](const QUrl &url) {
        opened = url;
        QTimer::singleShot(0, &dialog, [&] {
            QVERIFY(panel->isSigningIn());
            if (press == u"Escape"_s)
                QTest::keyClick(&dialog, Qt::Key_Escape);
            else
                dialog.findChild<QPushButton *>(press)->click();
        });
        return true;
    });
    bool stillOpen = false;
    QTimer::singleShot(0, &dialog, [&] {
        panel->comboProvider()->setCurrentIndex(panel->comboProvider()->findData(u"generic"_s));
        dialog.txtAddMailServer()->setText(server);
        dialog.txtAddLoginName()->setText(u"alice"_s);
        panel->txtClientId()->setText(u"quellmail-test"_s);
        panel->txtAuthorizationUrl()->setText(m_provider.url(u"/authorize"_s).toString());
        panel->txtTokenUrl()->setText(m_provider.url(u"/token"_s).toString());
        panel->cmdSignIn()->click(); // returns once the wait has ended
        stillOpen = dialog.isVisible();
        QVERIFY(!panel->isSigningIn());
        if (stillOpen) {
            QCOMPARE(panel->lblSignInStatus()->text(), BrowserSignIn::CancelledText);
            QCOMPARE(panel->cmdSignIn()->text(), u"Sign in with the browser…"_s);
            QVERIFY(!panel->isSignedIn());
            dialog.cmdCancelAccountInfo()->click();
        }
    });
    dialog.openForNewAccount();
    BrowserSignIn::setOpener(standIn);

    QVERIFY(!dialog.isVisible());
    QCOMPARE(stillOpen, !closes);
    // The listener is gone: a late redirect finds no one on its port.
    const QUrl redirect(QUrlQuery(opened).queryItemValue(u"redirect_uri"_s, QUrl::FullyDecoded));
    QCOMPARE(redirect.host(), u"127.0.0.1"_s);
    QTcpSocket late;
    QSignalSpy refused(&late, &QTcpSocket::errorOccurred);
    late.connectToHost(QHostAddress::LocalHost, quint16(redirect.port()));
    QVERIFY(refused.wait());
    QCOMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
    // Nothing was asked of the provider's token endpoint and nothing kept.
    QCOMPARE(m_provider.requestCount(u"/token"_s), tokenRequests);
    QCOMPARE(form->gridAccounts()->rowCount(), 1);
    QCOMPARE(Secrets::Keyring().read({server, u"alice"_s}, Secrets::Kind::RefreshToken).status,
             Secrets::Keyring::Status::NotFound);
    StateDatabase database(folder.path());
    QVERIFY(database.open());
    QVERIFY(!TokenAccounts(database).find(server, u"alice"_s));
}

void tst_SignIn::dialogSignsIn()
{
    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "mail.example,joe,joepw\r\n"));
    auto form = ProgramTest::openWindow(folder);
    frmAddAccount dialog(*form, form.get());
    SignInPanel *panel = dialog.signInPanel();

    // Microsoft's preset fills the server and needs no password, but a client id of the user's.
    panel->comboProvider()->setCurrentIndex(panel->comboProvider()->findData(u"microsoft"_s));
    QCOMPARE(dialog.txtAddMailServer()->text(), u"pop3s://outlook.office365.com"_s);
    QVERIFY(!dialog.txtAddPassword()->isEnabled());
    QVERIFY(panel->txtClientId()->text().isEmpty());
    QVERIFY(panel->txtScope()->text().contains(u"POP.AccessAsUser.All"_s));
    QVERIFY(panel->txtScope()->text().contains(u"offline_access"_s));

    panel->comboProvider()->setCurrentIndex(panel->comboProvider()->findData(u"generic"_s));
    const QString server = u"pop3s://mail.example.org"_s;
    dialog.txtAddMailServer()->setText(server);
    dialog.txtAddLoginName()->setText(u"alice"_s);
    panel->txtClientId()->setText(u"quellmail-test"_s);
    panel->txtAuthorizationUrl()->setText(m_provider.url(u"/authorize"_s).toString());
    panel->txtTokenUrl()->setText(m_provider.url(u"/token"_s).toString());
    panel->txtScope()->setText(u"pop"_s);
    // Adding before signing in is refused.
    dialog.cmdAddAccountInfo()->click();
    QCOMPARE(form->gridAccounts()->rowCount(), 1);
    QVERIFY(MessageBox::records().last().text.contains(u"Please sign in"_s));

    panel->cmdSignIn()->click();
    QCOMPARE(panel->lblSignInStatus()->text(), u"Signed in."_s);
    QVERIFY(panel->isSignedIn());
    // Another login is another account: its sign-in is still to come.
    dialog.txtAddLoginName()->setText(u"bob"_s);
    QVERIFY(!panel->isSignedIn());
    dialog.txtAddLoginName()->setText(u"alice"_s);
    dialog.cmdAddAccountInfo()->click();
    QCOMPARE(MessageBox::records().last().title, u"Account added."_s);
    QCOMPARE(form->gridAccounts()->rowCount(), 2);
    QCOMPARE(form->gridAccounts()->cell(2, 1), server);
    QCOMPARE(form->gridAccounts()->cell(2, 3), QString()); // accounts.dat keeps an empty password

    StateDatabase database(folder.path());
    QVERIFY(database.open());
    const std::optional<TokenAccounts::Account> kept = TokenAccounts(database).find(server, u"alice"_s);
    QVERIFY(kept);
    QCOMPARE(kept->tokenUrl, m_provider.url(u"/token"_s));
    QCOMPARE(kept->clientId, u"quellmail-test"_s);
    QVERIFY(kept->expiresAt > QDateTime::currentDateTimeUtc());
    const QString refresh = keyringSecret(server, u"alice"_s, Secrets::Kind::RefreshToken);
    QVERIFY(!refresh.isEmpty());
    QCOMPARE(filesHolding(folder.path(), refresh), QStringList());
    database.close();

    // The same account cannot be added again; edited to a password login, it drops the sign-in.
    dialog.clearBoxes();
    dialog.txtAddMailServer()->setText(server);
    dialog.txtAddLoginName()->setText(u"alice"_s);
    dialog.txtAddPassword()->setText(u"alicepw"_s);
    dialog.cmdAddAccountInfo()->click();
    QVERIFY(MessageBox::records().last().text.contains(u"is already in the list (row 2)"_s));
    // Opened for editing, it shows its sign-in; taken unchanged, it keeps it.
    QTimer::singleShot(0, &dialog, [&] {
        QCOMPARE(panel->comboProvider()->currentData().toString(), u"generic"_s);
        QCOMPARE(panel->txtClientId()->text(), u"quellmail-test"_s);
        QCOMPARE(panel->txtTokenUrl()->text(), m_provider.url(u"/token"_s).toString());
        QCOMPARE(dialog.txtAddMailServer()->text(), server);
        QVERIFY(panel->isSignedIn());
        QVERIFY(!dialog.txtAddPassword()->isEnabled());
        dialog.cmdAddAccountInfo()->click();
    });
    dialog.openForAccount(2);
    QCOMPARE(form->gridAccounts()->rowCells(2), (QStringList{server, u"alice"_s, QString()}));
    QVERIFY(database.open());
    QVERIFY(TokenAccounts(database).find(server, u"alice"_s));
    database.close();
    QTimer::singleShot(0, &dialog, [&] {
        panel->comboProvider()->setCurrentIndex(0);
        dialog.txtAddPassword()->setText(u"alicepw"_s);
        dialog.cmdAddAccountInfo()->click();
    });
    dialog.openForAccount(2);
    QCOMPARE(form->Label17()->text(), SaveReminder::statusText(u"The account has been changed."_s));
    QCOMPARE(form->gridAccounts()->rowCells(2), (QStringList{server, u"alice"_s, u"alicepw"_s}));
    QVERIFY(database.open());
    QVERIFY(!TokenAccounts(database).find(server, u"alice"_s));
    QCOMPARE(Secrets::Keyring().read({server, u"alice"_s}, Secrets::Kind::RefreshToken).status,
             Secrets::Keyring::Status::NotFound);
}

void tst_SignIn::accessToken_data()
{
    QTest::addColumn<int>("expiresIn"); // seconds from now of the kept access token
    QTest::addColumn<bool>("revoked");
    QTest::addColumn<bool>("refreshTokenKept");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("refreshed");
    QTest::newRow("still valid") << 3600 << false << true << int(TokenKeeper::Status::Ok) << false;
    QTest::newRow("expired") << -10 << false << true << int(TokenKeeper::Status::Ok) << true;
    QTest::newRow("about to expire") << 30 << false << true << int(TokenKeeper::Status::Ok) << true;
    QTest::newRow("revoked refresh token") << -10 << true << true << int(TokenKeeper::Status::SignInAgain) << false;
    QTest::newRow("refresh token lost") << -10 << false << false << int(TokenKeeper::Status::SignInAgain) << false;
}

void tst_SignIn::accessToken()
{
    QFETCH(int, expiresIn);
    QFETCH(bool, revoked);
    QFETCH(bool, refreshTokenKept);
    QFETCH(int, status);
    QFETCH(bool, refreshed);
    QTemporaryDir dir;
    StateDatabase database(dir.path());
    QVERIFY(database.open());
    const QString server = u"pop3s://refresh.example"_s;
    const QString login = QString::fromLatin1(QTest::currentDataTag());
    const QString refresh = m_provider.issueRefreshToken(u"alice"_s);
    const QString access = m_provider.issueAccessToken(u"alice"_s);
    if (revoked)
        m_provider.revoke(refresh);
    QString error;
    QVERIFY2(TokenKeeper(&database).store(facts(m_provider, server, login),
                                          {access, refresh, QDateTime::currentDateTimeUtc().addSecs(expiresIn)},
                                          &error),
             qPrintable(error));
    if (!refreshTokenKept)
        QVERIFY(Secrets::Keyring().remove({server, login}, Secrets::Kind::RefreshToken).ok());
    const int tokenRequests = m_provider.requestCount(u"/token"_s);

    const TokenAccounts::Account kept = *TokenAccounts(database).find(server, login);
    const TokenKeeper::Access got = TokenKeeper(&database).accessToken(kept);
    QCOMPARE(int(got.status), status);
    QCOMPARE(m_provider.requestCount(u"/token"_s) - tokenRequests, refreshed || revoked ? 1 : 0);
    const TokenAccounts::Account after = *TokenAccounts(database).find(server, login);
    if (got.status == TokenKeeper::Status::SignInAgain) {
        QVERIFY2(got.error.startsWith(u"sign in again"_s), qPrintable(got.error));
        QVERIFY(after.signInAgain);
        // Marked: the next scan does not ask the provider again.
        QCOMPARE(int(TokenKeeper(&database).accessToken(after).status), status);
        QCOMPARE(m_provider.requestCount(u"/token"_s) - tokenRequests, revoked ? 1 : 0);
        return;
    }
    if (!refreshed) {
        QCOMPARE(got.token, access);
        return;
    }
    QVERIFY(got.token != access);
    QCOMPARE(keyringSecret(server, login, Secrets::Kind::AccessToken), got.token);
    QVERIFY(QDateTime::currentDateTimeUtc().secsTo(after.expiresAt) > 3500);
    // The new token is the one kept: the next call needs no refresh.
    QCOMPARE(TokenKeeper(&database).accessToken(after).token, got.token);
    QCOMPARE(m_provider.requestCount(u"/token"_s) - tokenRequests, 1);
}

void tst_SignIn::scanTokenAndPasswordAccounts_data()
{
    // What Dovecot offers beside PLAIN and LOGIN, and the mechanism the control must pick.
    QTest::addColumn<QStringList>("offered");
    QTest::addColumn<QByteArray>("mechanism");
    QTest::newRow("OAUTHBEARER") << QStringList{u"xoauth2"_s, u"oauthbearer"_s} << QByteArray("OAUTHBEARER");
    QTest::newRow("XOAUTH2") << QStringList{u"xoauth2"_s} << QByteArray("XOAUTH2");
}

void tst_SignIn::scanTokenAndPasswordAccounts()
{
    QFETCH(QStringList, offered);
    QFETCH(QByteArray, mechanism);
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed (scripts/install-deps.sh installs it)");
    DovecotServer server;
    for (const QString &user : {u"alice"_s, u"bob"_s, u"carol"_s}) {
        server.addUser(user, user + u"-pw"_s);
        server.addMessage(user, "From: pal@example.org\nSubject: hello " + user.toLatin1() + "\n\nHi.\n");
    }
    for (const QString &user : {u"alice"_s, u"bob"_s})
        server.addMessage(user, "From: x@spam.example\nSubject: cheap " + user.toLatin1() + "\n\nBuy.\n");
    server.enableOAuth2(m_provider.url(u"/introspect"_s).toString(), offered);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const QString address = u"pop3://127.0.0.1:%1"_s.arg(server.port());

    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(
        u"accounts.dat"_s,
        (address + u",carol,carol-pw\r\n"_s + address + u",bob,\r\n"_s + address + u",alice,\r\n"_s).toUtf8()));
    QVERIFY(folder.write(u"blacklist.dat"_s, "spam.example\r\n"));
    const QString aliceRefresh = m_provider.issueRefreshToken(u"alice"_s);
    const QString bobRefresh = m_provider.issueRefreshToken(u"bob"_s);
    m_provider.revoke(bobRefresh);
    {
        StateDatabase database(folder.path());
        QVERIFY(database.open());
        QString error;
        // Both access tokens have expired: the scan must refresh them.
        const QDateTime past = QDateTime::currentDateTimeUtc().addSecs(-60);
        QVERIFY2(TokenKeeper(&database).store(facts(m_provider, address, u"alice"_s), {u"stale"_s, aliceRefresh, past},
                                              &error),
                 qPrintable(error));
        QVERIFY2(
            TokenKeeper(&database).store(facts(m_provider, address, u"bob"_s), {u"stale"_s, bobRefresh, past}, &error),
            qPrintable(error));
    }
    auto form = ProgramTest::openWindow(folder);
    ProgramTest::blacklistOnly(*form);
    form->Tarnpost1().setDebugFile(folder.file(u"debug.log"_s));
    form->Tarnpost1().setDebugMode(true);
    QSignalSpy notified(form.get(), &frmMain::notified);
    Scan::MailboxScanner scanner(*form);
    QSignalSpy captions(&scanner, &Scan::MailboxScanner::captionWritten);
    scanner.run();

    QCOMPARE(scanner.results().size(), 3);
    for (const Scan::AccountResult &result : scanner.results()) {
        if (result.login == u"bob"_s) {
            QVERIFY2(result.error.startsWith(u"sign in again"_s), qPrintable(result.error));
            QCOMPARE(result.scanned, 0);
        } else {
            QVERIFY2(!result.failed(), qPrintable(result.login + u": "_s + result.error));
            QCOMPARE(result.scanned, result.login == u"alice"_s ? 2 : 1);
        }
    }
    // The token account's spam went, its ham stayed.
    QCOMPARE(server.messages(u"alice"_s).size(), 1);
    QVERIFY(server.messages(u"alice"_s).first().contains("Subject: hello alice"));
    QCOMPARE(server.messageCount(u"bob"_s), 2);
    // The status line, the tray and the Log tab each say so, and how to mend it.
    const auto saysSignInAgain = [](const QVariant &text) {
        return text.toString().contains(u"(bob): sign in again"_s) && text.toString().contains(u"Edit…"_s);
    };
    QVERIFY(std::any_of(captions.cbegin(), captions.cend(),
                        [&](const QList<QVariant> &args) { return saysSignInAgain(args.at(0)); }));
    QVERIFY(std::any_of(notified.cbegin(), notified.cend(),
                        [&](const QList<QVariant> &args) { return saysSignInAgain(args.at(0)); }));
    StateDatabase database(folder.path());
    QVERIFY(database.open());
    const QList<ScanLog::Record> log = ScanLog(database).latest(10);
    QVERIFY(std::any_of(log.cbegin(), log.cend(), [](const ScanLog::Record &record) {
        return record.login == u"bob"_s && record.outcome.startsWith(u"sign in again"_s)
               && record.outcome.contains(u"Edit…"_s);
    }));
    QVERIFY(TokenAccounts(database).find(address, u"bob"_s)->signInAgain);
    QVERIFY(!TokenAccounts(database).find(address, u"alice"_s)->signInAgain);

    // The next scan starts with the password account, right after the token
    // account that ended this one: it logs in with its password again.
    Scan::MailboxScanner again(*form);
    again.run();
    QCOMPARE(again.results().size(), 3);
    QVERIFY2(!again.results().at(0).failed(), qPrintable(again.results().at(0).error));
    QVERIFY2(!again.results().at(2).failed(), qPrintable(again.results().at(2).error));

    // The command line's form refreshes an expired token the same way.
    QVERIFY(TokenAccounts(database).setExpiry(address, u"alice"_s, QDateTime::currentDateTimeUtc().addSecs(-1)));
    const int tokenRequests = m_provider.requestCount(u"/token"_s);
    const QString keptAccess = keyringSecret(address, u"alice"_s, Secrets::Kind::AccessToken);
    Scan::HeadlessForm headless(folder.path());
    Automation::TarnpostSite site;
    QVERIFY2(site.create(QStringLiteral(QUELLMAIL_BIN_DIR), nullptr), qPrintable(site.errorString()));
    headless.Tarnpost1().reset(site.proxy().qobject());
    headless.load();
    Scan::MailboxScanner commandLine(headless);
    commandLine.run();
    QCOMPARE(m_provider.requestCount(u"/token"_s), tokenRequests + 1); // alice's; bob's is marked already
    QCOMPARE(commandLine.results().size(), 3);
    QVERIFY2(!commandLine.results().at(2).failed(), qPrintable(commandLine.results().at(2).error));
    QVERIFY(commandLine.results().at(1).error.startsWith(u"sign in again"_s));
    QVERIFY(std::any_of(commandLine.problems().cbegin(), commandLine.problems().cend(),
                        [&](const QString &problem) { return saysSignInAgain(problem); }));
    QVERIFY(keyringSecret(address, u"alice"_s, Secrets::Kind::AccessToken) != keptAccess);

    // Mended in place: Edit, sign in with the browser again, OK.
    frmAddAccount dialog(*form, form.get());
    QTimer::singleShot(0, &dialog, [&] {
        SignInPanel *panel = dialog.signInPanel();
        QVERIFY2(panel->lblSignInStatus()->text().contains(u"refused"_s), qPrintable(panel->lblSignInStatus()->text()));
        panel->cmdSignIn()->click();
        QCOMPARE(panel->lblSignInStatus()->text(), u"Signed in."_s);
        dialog.cmdAddAccountInfo()->click();
    });
    dialog.openForAccount(2);
    QCOMPARE(form->gridAccounts()->rowCells(2), (QStringList{address, u"bob"_s, QString()}));
    QVERIFY(!TokenAccounts(database).find(address, u"bob"_s)->signInAgain);
    const QString bobNewRefresh = keyringSecret(address, u"bob"_s, Secrets::Kind::RefreshToken);
    QVERIFY(!bobNewRefresh.isEmpty() && bobNewRefresh != bobRefresh);
    Scan::MailboxScanner mended(*form);
    mended.run();
    QCOMPARE(mended.results().size(), 3);
    QVERIFY2(!mended.results().at(1).failed(), qPrintable(mended.results().at(1).error));
    QCOMPARE(mended.results().at(1).scanned, 2);
    QCOMPARE(server.messages(u"bob"_s).size(), 1);
    QVERIFY(server.messages(u"bob"_s).first().contains("Subject: hello bob"));

    // Tokens went to the keyring and the server, never to a file, plain or inside a SASL response.
    const QString aliceAccess = keyringSecret(address, u"alice"_s, Secrets::Kind::AccessToken);
    const QString bobAccess = keyringSecret(address, u"bob"_s, Secrets::Kind::AccessToken);
    QVERIFY(aliceAccess != u"stale"_s && bobAccess != u"stale"_s);
    for (const QString &secret : {aliceAccess, aliceRefresh, bobAccess, bobNewRefresh})
        QCOMPARE(filesHoldingToken(folder.path(), secret), QStringList());
    const QByteArray debug = folder.read(u"debug.log"_s);
    const QByteArray masked = "AUTH " + mechanism + " ********";
    QVERIFY(debug.contains(masked));
    QCOMPARE(debug.count("AUTH "), debug.count(masked));
    QVERIFY(debug.contains("PASS ********"));
}

QTEST_MAIN(tst_SignIn)
#include "tst_signin.moc"
