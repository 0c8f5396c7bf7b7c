// The keyring and the passwords kept in it, against a real
// gnome-keyring-daemon on a private session bus: the wrapper, moving
// accounts.dat's passwords in and out, and the scan logging in with them.

#include "dovecot/dovecotserver.h"
#include "pop3/host/tarnpostproxy.h"
#include "scan/headlessform.h"
#include "scan/keyringpasswords.h"
#include "scan/mailboxscanner.h"
#include "secrets/keyring.h"
#include "signin/tokenkeeper.h"
#include "state/keyringaccounts.h"
#include "state/statedatabase.h"
#include "state/tokenaccounts.h"
#include "tests/scan/fakemailbox.h"
#include "tests/support/privatekeyring.h"
#include "tests/support/programfolder.h"

#include "config/listkind.h"
#include "config/listtable.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using Scan::KeyringPasswords;
using Secrets::Keyring;

namespace {

const Secrets::Kind Password = Secrets::Kind::Password;

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList logins(const QList<KeyringPasswords::Entry> &entries)
{
    QStringList list;
    for (const KeyringPasswords::Entry &entry : entries)
        list.append(entry.login);
    return list;
}

std::optional<QList<KeyringAccounts::Account>> recorded(const QString &folder)
{
    StateDatabase database(folder);
    if (!database.open())
        return std::nullopt;
    return KeyringAccounts(database).all();
}

bool record(const QString &folder, const QList<KeyringAccounts::Account> &accounts)
{
    StateDatabase database(folder);
    return database.open() && KeyringAccounts(database).add(accounts);
}

// Files of the folder (the state database included) that hold the text.
QStringList filesHolding(const QString &folder, const QString &secret)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (readFile(path).contains(secret.toUtf8()))
            found.append(path);
    }
    return found;
}

struct ScanRun
{
    QList<Scan::AccountResult> results;
    QStringList log;
};

// One scan of the folder's accounts, as the command line runs it, with a
// stand-in for the control that knows each user's password.
ScanRun scan(const QString &folder, const QHash<QString, QString> &passwords)
{
    FakeMailbox control;
    for (auto it = passwords.cbegin(); it != passwords.cend(); ++it)
        control.addMailbox(it.key(), it.value(), {});
    Scan::HeadlessForm form(folder);
    form.load();
    form.Tarnpost1().reset(&control);
    Scan::MailboxScanner scanner(form);
    scanner.run();
    return {scanner.results(), control.log};
}

QCheckBox *keyringBox(frmMain &form) { return form.findChild<QCheckBox *>(u"checkKeyring"_s); }

} // namespace

class tst_Keyring final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    // First, while the bus has no keyring on it.
    void noKeyringRunning();
    void roundTrip_data();
    void roundTrip();
    void moveInAndOut_data();
    void moveInAndOut();
    void moveOutKeepsWhatTheKeyringLost();
    void scanLogsInWithKeyringPasswords();
    void settingOnTheSettingsTab();
    void realControlAgainstDovecot();
    void deletedAccountLeavesNothing_data();
    void deletedAccountLeavesNothing();
    // Last: the keyring stays locked.
    void lockedKeyringRefuses();

private:
    bool startKeyring();
    PrivateKeyring m_keyring;
    bool m_keyringStarted = false;
};

void tst_Keyring::initTestCase()
{
    if (const QString missing = PrivateKeyring::missingProgram(); !missing.isEmpty())
        QSKIP(qPrintable(missing + u" is not installed (scripts/install-deps.sh installs it)"_s));
    QVERIFY2(m_keyring.startBus(), qPrintable(m_keyring.errorString()));
}

bool tst_Keyring::startKeyring()
{
    m_keyringStarted = m_keyring.startKeyring();
    if (!m_keyringStarted)
        qWarning("%s", qPrintable(m_keyring.errorString()));
    return m_keyringStarted;
}

void tst_Keyring::noKeyringRunning()
{
    if (m_keyringStarted)
        QSKIP("the keyring was started by an earlier test");
    const Keyring keyring;
    const Secrets::Account account{u"pop3s://mail.example.com"_s, u"joe"_s};
    for (const Keyring::Result &result : {keyring.probe(), keyring.write(account, Password, u"pw"_s),
                                          keyring.read(account, Password), keyring.remove(account, Password)}) {
        QCOMPARE(result.status, Keyring::Status::NoKeyring);
        QVERIFY2(result.errorText.startsWith(u"No keyring is running"_s), qPrintable(result.errorText));
    }

    // Moving says so and leaves the file and the records as they are.
    QTemporaryDir dir;
    const QString path = KeyringPasswords::accountsPath(dir.path());
    // Said even when there is no password to move yet.
    QVERIFY(writeFile(path, "mail.example,kept,\r\n"));
    QVERIFY(KeyringPasswords(dir.path()).moveIn().noKeyring);
    const QByteArray accounts = "mail.example,joe,joepw\r\nmail.example,kept,\r\n";
    QVERIFY(writeFile(path, accounts));
    QVERIFY(record(dir.path(), {{u"mail.example"_s, u"kept"_s}}));
    for (const int step : {0, 1, 2}) {
        KeyringPasswords passwords(dir.path());
        const KeyringPasswords::Outcome outcome =
            step == 0   ? passwords.moveIn()
            : step == 1 ? passwords.moveOut()
                        : passwords.storeBeforeSave({{u"mail.example"_s, u"new"_s, u"newpw"_s}});
        QVERIFY(outcome.noKeyring);
        QVERIFY(outcome.moved.isEmpty());
        QCOMPARE(outcome.problems.size(), 1);
        QVERIFY2(outcome.problems.at(0).startsWith(u"No keyring is running"_s), qPrintable(outcome.problems.at(0)));
        QCOMPARE(readFile(path), accounts);
        QCOMPARE(recorded(dir.path())->size(), 1);
    }

    // The scan fails the keyring account with the reason and goes on.
    const ScanRun run = scan(dir.path(), {{u"joe"_s, u"joepw"_s}, {u"kept"_s, u"keptpw"_s}});
    QCOMPARE(run.results.size(), 2);
    QVERIFY(!run.results.at(0).failed());
    QVERIFY(run.results.at(1).failed());
    QVERIFY2(run.results.at(1).error.contains(u"system keyring, which cannot give it: No keyring is running"_s),
             qPrintable(run.results.at(1).error));
    QCOMPARE(run.log.filter(u"USER"_s), QStringList{u"USER joe"_s});

    // The window says so in a box and the setting stays off.
    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, accounts));
    auto form = ProgramTest::openWindow(folder);
    keyringBox(*form)->click();
    QVERIFY(!keyringBox(*form)->isChecked());
    QCOMPARE(MessageBox::records().size(), 1);
    QVERIFY2(MessageBox::records().at(0).text.startsWith(u"No keyring is running"_s),
             qPrintable(MessageBox::records().at(0).text));
    QCOMPARE(folder.read(u"accounts.dat"_s), accounts);
    QCOMPARE(form->gridAccounts()->cell(1, 3), u"joepw"_s);
    QVERIFY(folder.read(u"settings.ini"_s).contains("keyring=false"));
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
    QVERIFY2(startKeyring(), qPrintable(m_keyring.errorString()));
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
    QVERIFY(keyring.write(account, what, secret + u'2').ok());
    QCOMPARE(keyring.read(account, what).secret, secret + u'2');
}

void tst_Keyring::moveInAndOut_data()
{
    QTest::addColumn<QByteArray>("accounts");
    QTest::addColumn<QByteArray>("afterIn");
    QTest::addColumn<QByteArray>("afterOut");
    QTest::addColumn<QStringList>("moved");
    QTest::addColumn<int>("problems");

    QTest::newRow("two accounts")
        << QByteArray("pop3s://mail.example,joe,joe-secret-1\r\nmail.example,ann,ann-secret-2\r\n")
        << QByteArray("pop3s://mail.example,joe,\r\nmail.example,ann,\r\n")
        << QByteArray("pop3s://mail.example,joe,joe-secret-1\r\nmail.example,ann,ann-secret-2\r\n")
        << QStringList{u"joe"_s, u"ann"_s} << 0;
    // An empty password stays empty and unrecorded; a server too short for
    // the loader is no account; a password may hold commas.
    QTest::newRow("what the loader reads")
        << QByteArray("mail.example,none,\r\nx,short,short-secret\r\nmail.example,comma,comma,secret\n")
        << QByteArray("mail.example,none,\r\nx,short,short-secret\r\nmail.example,comma,\r\n")
        << QByteArray("mail.example,none,\r\nx,short,short-secret\r\nmail.example,comma,comma,secret\r\n")
        << QStringList{u"comma"_s} << 0;
    QTest::newRow("a line that ends the accounts")
        << QByteArray("mail.example,joe,joe-secret-3\r\nnot an account\r\nmail.example,late,late-secret\r\n")
        << QByteArray("mail.example,joe,\r\nnot an account\r\nmail.example,late,late-secret\r\n")
        << QByteArray("mail.example,joe,joe-secret-3\r\nnot an account\r\nmail.example,late,late-secret\r\n")
        << QStringList{u"joe"_s} << 0;
    // One keyring entry cannot hold two passwords.
    QTest::newRow("the same account twice")
        << QByteArray("mail.example,joe,twice-secret-a\r\nmail.example,joe,twice-secret-b\r\nmail.example,ann,ann-"
                      "secret-4\r\n")
        << QByteArray("mail.example,joe,twice-secret-a\r\nmail.example,joe,twice-secret-b\r\nmail.example,ann,\r\n")
        << QByteArray("mail.example,joe,twice-secret-a\r\nmail.example,joe,twice-secret-b\r\nmail.example,ann,ann-"
                      "secret-4\r\n")
        << QStringList{u"ann"_s} << 1;
    // Server and login keep their bytes; the password comes back as UTF-8.
    QTest::newRow("a Latin-1 line") << QByteArray("mail.example,j\xf6rg,p\xe4ss-secret\r\n")
                                    << QByteArray("mail.example,j\xf6rg,\r\n")
                                    << QByteArray("mail.example,j\xf6rg,p\xc3\xa4ss-secret\r\n")
                                    << QStringList{u"j\u00f6rg"_s} << 0;
}

void tst_Keyring::moveInAndOut()
{
    QFETCH(QByteArray, accounts);
    QFETCH(QByteArray, afterIn);
    QFETCH(QByteArray, afterOut);
    QFETCH(QStringList, moved);
    QFETCH(int, problems);
    QVERIFY2(startKeyring(), qPrintable(m_keyring.errorString()));
    QTemporaryDir dir;
    const QString path = KeyringPasswords::accountsPath(dir.path());
    QVERIFY(writeFile(path, accounts));

    const KeyringPasswords::Outcome in = KeyringPasswords(dir.path()).moveIn();
    QCOMPARE(in.problems.size(), problems);
    QVERIFY(!in.noKeyring);
    QCOMPARE(logins(in.moved), moved);
    QCOMPARE(readFile(path), afterIn);
    QCOMPARE(QFile::permissions(path) & (QFileDevice::ReadGroup | QFileDevice::ReadOther), QFileDevice::Permissions());
    const Keyring keyring;
    for (const KeyringPasswords::Entry &entry : in.moved) {
        QCOMPARE(keyring.read({entry.server, entry.login}, Password).secret, entry.password);
        QCOMPARE(filesHolding(dir.path(), entry.password), QStringList());
    }
    QCOMPARE(recorded(dir.path())->size(), moved.size());
    // Nothing more to move the second time.
    QVERIFY(KeyringPasswords(dir.path()).moveIn().moved.isEmpty());
    QCOMPARE(readFile(path), afterIn);

    const KeyringPasswords::Outcome out = KeyringPasswords(dir.path()).moveOut();
    QCOMPARE(out.problems, QStringList());
    QCOMPARE(logins(out.moved), moved);
    QCOMPARE(readFile(path), afterOut);
    for (const KeyringPasswords::Entry &entry : in.moved)
        QCOMPARE(keyring.read({entry.server, entry.login}, Password).status, Keyring::Status::NotFound);
    QCOMPARE(recorded(dir.path())->size(), 0);
}

void tst_Keyring::moveOutKeepsWhatTheKeyringLost()
{
    QVERIFY2(startKeyring(), qPrintable(m_keyring.errorString()));
    QTemporaryDir dir;
    const QString path = KeyringPasswords::accountsPath(dir.path());
    QVERIFY(writeFile(path, "mail.example,joe,lost-secret\r\nmail.example,ann,ann-secret-5\r\n"));
    QCOMPARE(KeyringPasswords(dir.path()).moveIn().moved.size(), 2);
    QVERIFY(Keyring().remove({u"mail.example"_s, u"joe"_s}, Password).ok());

    const KeyringPasswords::Outcome out = KeyringPasswords(dir.path()).moveOut();
    QCOMPARE(logins(out.moved), QStringList{u"ann"_s});
    QCOMPARE(out.problems.size(), 1);
    QVERIFY2(out.problems.at(0).contains(u"mail.example (joe): the keyring gives no password"_s),
             qPrintable(out.problems.at(0)));
    QCOMPARE(readFile(path), QByteArray("mail.example,joe,\r\nmail.example,ann,ann-secret-5\r\n"));
    // Still a keyring account, so the scan names what is missing.
    QCOMPARE(recorded(dir.path()), std::optional<QList<KeyringAccounts::Account>>({{u"mail.example"_s, u"joe"_s}}));
}

void tst_Keyring::scanLogsInWithKeyringPasswords()
{
    QVERIFY2(startKeyring(), qPrintable(m_keyring.errorString()));
    QTemporaryDir dir;
    QVERIFY(writeFile(KeyringPasswords::accountsPath(dir.path()),
                      "mail.example,kept,kept-secret\r\nmail.example,lost,lost-secret-2\r\n"
                      "mail.example,plain,plainpw\r\nmail.example,empty,\r\n"));
    KeyringPasswords passwords(dir.path());
    QCOMPARE(passwords.moveIn().moved.size(), 3);
    // A password typed in again after the move counts, as written.
    QVERIFY(
        writeFile(KeyringPasswords::accountsPath(dir.path()),
                  "mail.example,kept,\r\nmail.example,lost,\r\nmail.example,plain,plainpw\r\nmail.example,empty,\r\n"));
    QVERIFY(Keyring().remove({u"mail.example"_s, u"lost"_s}, Password).ok());

    const ScanRun run = scan(dir.path(), {{u"kept"_s, u"kept-secret"_s},
                                          {u"lost"_s, u"lost-secret-2"_s},
                                          {u"plain"_s, u"plainpw"_s},
                                          {u"empty"_s, QString()}});
    QCOMPARE(run.results.size(), 4);
    QVERIFY2(!run.results.at(0).failed(), qPrintable(run.results.at(0).error));
    QVERIFY(run.results.at(1).failed());
    QVERIFY2(run.results.at(1).error.startsWith(u"its password should be in the system keyring, which gives none"_s),
             qPrintable(run.results.at(1).error));
    QVERIFY2(!run.results.at(2).failed(), qPrintable(run.results.at(2).error));
    QVERIFY2(!run.results.at(3).failed(), qPrintable(run.results.at(3).error));
    // The failed account never reached the server; the others did, in order.
    QCOMPARE(run.log.filter(u"USER"_s), (QStringList{u"USER kept"_s, u"USER plain"_s, u"USER empty"_s}));
    QCOMPARE(filesHolding(dir.path(), u"kept-secret"_s), QStringList());
}

void tst_Keyring::settingOnTheSettingsTab()
{
    QVERIFY2(startKeyring(), qPrintable(m_keyring.errorString()));
    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "mail.example,joe,window-secret-1\r\n"));
    auto form = ProgramTest::openWindow(folder);
    QCheckBox *box = keyringBox(*form);
    QVERIFY(box && !box->isChecked());

    box->click();
    QVERIFY(box->isChecked());
    QCOMPARE(form->Label17()->text(), u"1 password(s) moved into the system keyring."_s);
    QCOMPARE(folder.read(u"accounts.dat"_s), QByteArray("mail.example,joe,\r\n"));
    QCOMPARE(form->gridAccounts()->cell(1, 3), QString()); // Save Settings must not write it back
    QVERIFY(folder.read(u"settings.ini"_s).contains("keyring=true"));

    // A password added while the box is ticked goes to the keyring, never the file.
    Lists::appendRow(*form, ListKind::Accounts, {u"mail.example"_s, u"ann"_s, u"window-secret-2"_s});
    form->findChild<QPushButton *>(u"cmdupdateconfig"_s)->click();
    QCOMPARE(folder.read(u"accounts.dat"_s), QByteArray("mail.example,joe,\r\nmail.example,ann,\r\n"));
    QCOMPARE(Keyring().read({u"mail.example"_s, u"ann"_s}, Password).secret, u"window-secret-2"_s);
    QCOMPARE(filesHolding(folder.path(), u"window-secret"_s), QStringList());

    box->click();
    QVERIFY(!box->isChecked());
    QCOMPARE(form->Label17()->text(), u"2 password(s) moved back into accounts.dat."_s);
    QCOMPARE(folder.read(u"accounts.dat"_s),
             QByteArray("mail.example,joe,window-secret-1\r\nmail.example,ann,window-secret-2\r\n"));
    QCOMPARE(form->gridAccounts()->cell(2, 3), u"window-secret-2"_s);
    QVERIFY(folder.read(u"settings.ini"_s).contains("keyring=false"));
    QVERIFY(MessageBox::records().isEmpty());
}

void tst_Keyring::realControlAgainstDovecot()
{
    if (!DovecotServer::isAvailable())
        QSKIP("dovecot is not installed (scripts/install-deps.sh installs it)");
    QVERIFY2(startKeyring(), qPrintable(m_keyring.errorString()));
    DovecotServer server;
    server.addUser(u"kept"_s, u"dovecot-kept-secret"_s);
    server.addUser(u"plain"_s, u"plainpw"_s);
    server.addMessage(u"kept"_s, "From: pal@example.org\nSubject: hello\n\nHi.\n");
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const QByteArray address = "pop3://127.0.0.1:" + QByteArray::number(server.port());
    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, address + ",kept,dovecot-kept-secret\r\n"));
    QCOMPARE(KeyringPasswords(folder.path()).moveIn().moved.size(), 1);
    QVERIFY(folder.write(u"accounts.dat"_s, address + ",kept,\r\n" + address + ",plain,plainpw\r\n"));
    auto form = ProgramTest::openWindow(folder);

    form->Tarnpost1().setDebugFile(folder.file(u"debug.log"_s));
    form->Tarnpost1().setDebugMode(true);
    Scan::MailboxScanner scanner(*form);
    scanner.run();
    QCOMPARE(scanner.results().size(), 2);
    for (const Scan::AccountResult &result : scanner.results()) {
        QVERIFY2(!result.failed(), qPrintable(result.error));
        QCOMPARE(result.scanned, result.login == u"kept"_s ? 1 : 0);
    }
    QVERIFY(folder.read(u"debug.log"_s).contains("PASS ********"));
    QCOMPARE(filesHolding(folder.path(), u"dovecot-kept-secret"_s), QStringList());
}

void tst_Keyring::deletedAccountLeavesNothing_data()
{
    QTest::addColumn<bool>("saveFails");
    QTest::newRow("saved") << false;
    QTest::newRow("save fails: all kept") << true;
}

void tst_Keyring::deletedAccountLeavesNothing()
{
    QFETCH(bool, saveFails);
    QVERIFY2(startKeyring(), qPrintable(m_keyring.errorString()));
    const QString server = u"gone.example"_s;
    const Secrets::Account ann{server, u"ann"_s}; // a keyring password
    const Secrets::Account tok{server, u"tok"_s}; // a browser sign-in
    ProgramTest::ProgramFolder folder;
    QVERIFY(folder.write(u"accounts.dat"_s, "gone.example,joe,joepw\r\ngone.example,ann,\r\ngone.example,tok,\r\n"));
    QVERIFY(Keyring().write(ann, Password, u"ann-secret-8"_s).ok());
    QVERIFY(record(folder.path(), {{ann.server, ann.login}}));
    {
        StateDatabase database(folder.path());
        QVERIFY(database.open());
        TokenAccounts::Account facts;
        facts.server = tok.server;
        facts.login = tok.login;
        facts.provider = u"generic"_s;
        facts.clientId = u"quellmail-test"_s;
        QString error;
        QVERIFY2(SignIn::TokenKeeper(&database).store(facts, {u"tok-access"_s, u"tok-refresh"_s, {}}, &error),
                 qPrintable(error));
    }
    auto form = ProgramTest::openWindow(folder);
    for (const int row : {3, 2}) {
        form->gridAccountsView()->selectRow(row - 1);
        MessageBox::queueAnswer(MessageBox::Yes);
        form->findChild<QPushButton *>(u"cmdDeleteAccount"_s)->click();
    }
    QCOMPARE(form->gridAccounts()->rowCountValue(), 1);
    // Deleted but not saved: nothing is gone yet.
    QCOMPARE(Keyring().read(ann, Password).secret, u"ann-secret-8"_s);
    QCOMPARE(Keyring().read(tok, Secrets::Kind::RefreshToken).secret, u"tok-refresh"_s);
    if (saveFails) {
        QVERIFY(QFile::remove(folder.file(u"accounts.dat"_s)));
        QVERIFY(QDir(folder.path()).mkdir(u"accounts.dat"_s));
    }

    form->findChild<QPushButton *>(u"cmdupdateconfig"_s)->click();
    const Keyring::Status kept = saveFails ? Keyring::Status::Ok : Keyring::Status::NotFound;
    QCOMPARE(Keyring().read(ann, Password).status, kept);
    QCOMPARE(Keyring().read(tok, Secrets::Kind::RefreshToken).status, kept);
    QCOMPARE(Keyring().read(tok, Secrets::Kind::AccessToken).status, kept);
    QCOMPARE(recorded(folder.path())->size(), saveFails ? 1 : 0);
    StateDatabase database(folder.path());
    QVERIFY(database.open());
    QCOMPARE(TokenAccounts(database).find(tok.server, tok.login).has_value(), saveFails);
    if (!saveFails)
        QCOMPARE(folder.read(u"accounts.dat"_s), QByteArray("gone.example,joe,joepw\r\n"));
}

void tst_Keyring::lockedKeyringRefuses()
{
    QVERIFY2(startKeyring(), qPrintable(m_keyring.errorString()));
    QTemporaryDir dir;
    const QString path = KeyringPasswords::accountsPath(dir.path());
    const QByteArray accounts = "mail.example,joe,locked-secret\r\nmail.example,ann,\r\n";
    QVERIFY(writeFile(path, accounts));
    // ann's password went in before the lock.
    QVERIFY(Keyring().write({u"mail.example"_s, u"ann"_s}, Password, u"ann-secret-6"_s).ok());
    QVERIFY(record(dir.path(), {{u"mail.example"_s, u"ann"_s}}));
    QVERIFY2(m_keyring.lock(), qPrintable(m_keyring.errorString()));

    const Keyring keyring(5000);
    const Keyring::Result written = keyring.write({u"locked.example"_s, u"joe"_s}, Password, u"pw"_s);
    QCOMPARE(written.status, Keyring::Status::Failed);
    QVERIFY2(written.errorText.contains(u"locked"_s), qPrintable(written.errorText));

    for (const bool in : {true, false}) {
        KeyringPasswords passwords(dir.path(), keyring);
        const KeyringPasswords::Outcome outcome = in ? passwords.moveIn() : passwords.moveOut();
        QVERIFY(outcome.moved.isEmpty());
        QCOMPARE(outcome.problems.size(), 1);
        // A locked entry reads as none at all.
        QVERIFY2(outcome.problems.at(0).contains(
                     in ? u"(joe): The keyring refused access: Cannot create an item in a locked"_s
                        : u"(ann): the keyring gives no password for it"_s),
                 qPrintable(outcome.problems.at(0)));
        QCOMPARE(readFile(path), accounts);
        QCOMPARE(recorded(dir.path())->size(), 1);
    }
}

QTEST_MAIN(tst_Keyring)
#include "tst_keyring.moc"
