// The mail server cell: plain host names, the three address forms with their
// default ports, IPv6 in brackets and malformed forms; and the add-account
// dialog that refuses a malformed one.

#include "config/accountaddress.h"
#include "config/listtable.h"
#include "config/widgets/frmaddaccount.h"
#include "config/widgets/savereminder.h"
#include "platform/messagebox/messagebox.h"
#include "tests/config/testform.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

class tst_AccountAddress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void validForms_data();
    void validForms();
    void malformedForms_data();
    void malformedForms();
    void savedPortOnlyForPlainHosts();
    void dialog_data();
    void dialog();
};

void tst_AccountAddress::validForms_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<bool>("plain");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("security");

    const int none = Tarnpostctl::SecurityNone;
    const int tls = Tarnpostctl::SecurityTls;
    const int stls = Tarnpostctl::SecurityStls;
    // A plain cell goes to the control untouched, whatever it holds.
    QTest::newRow("plain host") << u"pop.example.net"_s << true << u"pop.example.net"_s << 0 << none;
    QTest::newRow("plain with blanks") << u" pop.example.net "_s << true << u" pop.example.net "_s << 0 << none;
    QTest::newRow("plain ipv6 literal") << u"::1"_s << true << u"::1"_s << 0 << none;
    QTest::newRow("plain host:port stays plain")
        << u"pop.example.net:995"_s << true << u"pop.example.net:995"_s << 0 << none;

    QTest::newRow("pop3s default port") << u"pop3s://pop.example.net"_s << false << u"pop.example.net"_s << 995 << tls;
    QTest::newRow("pop3s with port") << u"pop3s://pop.example.net:1995"_s << false << u"pop.example.net"_s << 1995
                                     << tls;
    QTest::newRow("pop3 default port") << u"pop3://10.0.0.5"_s << false << u"10.0.0.5"_s << 110 << none;
    QTest::newRow("pop3 unprivileged port") << u"pop3://127.0.0.1:2110"_s << false << u"127.0.0.1"_s << 2110 << none;
    QTest::newRow("stls default port") << u"pop3+stls://mail.example.org"_s << false << u"mail.example.org"_s << 110
                                       << stls;
    QTest::newRow("stls with port") << u"pop3+stls://mail.example.org:1100"_s << false << u"mail.example.org"_s << 1100
                                    << stls;
    QTest::newRow("scheme in capitals") << u"POP3S://Pop.Example.NET"_s << false << u"Pop.Example.NET"_s << 995 << tls;
    QTest::newRow("trailing slash and blanks")
        << u"  pop3s://pop.example.net:995/ "_s << false << u"pop.example.net"_s << 995 << tls;
    QTest::newRow("ipv6 in brackets") << u"pop3s://[2001:db8::1]"_s << false << u"2001:db8::1"_s << 995 << tls;
    QTest::newRow("ipv6 with port") << u"pop3+stls://[::1]:1100"_s << false << u"::1"_s << 1100 << stls;
    QTest::newRow("highest port") << u"pop3://h:65535"_s << false << u"h"_s << 65535 << none;
    QTest::newRow("leading zeros") << u"pop3://h:00995"_s << false << u"h"_s << 995 << none;
}

void tst_AccountAddress::validForms()
{
    QFETCH(QString, cell);
    QFETCH(bool, plain);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(int, security);

    const AccountAddress a = AccountAddress::parse(cell);
    QVERIFY2(a.isValid(), qPrintable(a.error()));
    QCOMPARE(a.error(), QString());
    QCOMPARE(a.isPlain(), plain);
    QCOMPARE(a.host(), host);
    QCOMPARE(a.port(), port);
    QCOMPARE(int(a.security()), security);
}

void tst_AccountAddress::malformedForms_data()
{
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("reason"); // part of the error

    QTest::newRow("unknown scheme") << u"imap://mail.example.org"_s << u"unknown scheme \"imap\""_s;
    QTest::newRow("empty scheme") << u"://mail.example.org"_s << u"unknown scheme"_s;
    QTest::newRow("no host") << u"pop3s://"_s << u"host name is missing"_s;
    QTest::newRow("only a port") << u"pop3s://:995"_s << u"host name is missing"_s;
    QTest::newRow("empty port") << u"pop3s://mail.example.org:"_s << u"port"_s;
    QTest::newRow("port zero") << u"pop3://mail.example.org:0"_s << u"port"_s;
    QTest::newRow("port too high") << u"pop3://mail.example.org:65536"_s << u"port"_s;
    QTest::newRow("port far too high") << u"pop3://mail.example.org:4294967297"_s << u"port"_s;
    QTest::newRow("port with sign") << u"pop3://mail.example.org:+995"_s << u"port"_s;
    QTest::newRow("port not a number") << u"pop3://mail.example.org:pop"_s << u"port"_s;
    QTest::newRow("ipv6 without brackets") << u"pop3s://2001:db8::1"_s << u"brackets"_s;
    QTest::newRow("unclosed bracket") << u"pop3s://[2001:db8::1"_s << u"closing bracket"_s;
    QTest::newRow("not ipv6 in brackets") << u"pop3s://[mail.example.org]"_s << u"IPv6"_s;
    QTest::newRow("junk after bracket") << u"pop3s://[::1]995"_s << u"only a port"_s;
    QTest::newRow("user in the address") << u"pop3s://bob@mail.example.org"_s << u"only a host name and a port"_s;
    QTest::newRow("path") << u"pop3s://mail.example.org/inbox"_s << u"only a host name and a port"_s;
    QTest::newRow("query") << u"pop3://mail.example.org?stls"_s << u"only a host name and a port"_s;
    QTest::newRow("blank inside") << u"pop3s://mail example.org"_s << u"only a host name and a port"_s;
    QTest::newRow("comma") << u"pop3s://mail.example.org,995"_s << u"only a host name and a port"_s;
}

void tst_AccountAddress::malformedForms()
{
    QFETCH(QString, cell);
    QFETCH(QString, reason);
    const AccountAddress a = AccountAddress::parse(cell);
    QVERIFY(!a.isValid());
    QVERIFY2(a.error().contains(reason), qPrintable(a.error()));
}

void tst_AccountAddress::savedPortOnlyForPlainHosts()
{
    QCOMPARE(AccountAddress::parse(u"pop.example.net"_s).portOr(2110), 2110);
    QCOMPARE(AccountAddress::parse(u"pop3://pop.example.net"_s).portOr(2110), 110);
    QCOMPARE(AccountAddress::parse(u"pop3s://pop.example.net"_s).portOr(2110), 995);
    QCOMPARE(AccountAddress::parse(u"pop3+stls://pop.example.net:1100"_s).portOr(2110), 1100);
}

void tst_AccountAddress::dialog_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("message"); // empty: accepted

    QTest::newRow("tls form") << u"pop3s://pop.example.net"_s << QString();
    QTest::newRow("stls form, ipv6") << u"pop3+stls://[2001:db8::5]:1100"_s << QString();
    QTest::newRow("plain host") << u"pop.example.net"_s << QString();
    QTest::newRow("bad port") << u"pop3s://pop.example.net:99999"_s
                              << u"The mail server is not a valid address: the port must be a number from 1 to "
                                 u"65535.\r\n"_s;
    QTest::newRow("unknown scheme") << u"https://pop.example.net"_s
                                    << u"The mail server is not a valid address: unknown scheme \"https\" (use "
                                       u"pop3://, pop3s:// or pop3+stls://).\r\n"_s;
}

void tst_AccountAddress::dialog()
{
    QFETCH(QString, server);
    QFETCH(QString, message);

    QTemporaryDir dir;
    TestForm form(dir.path());
    MessageBox::setTestMode(true);
    MessageBox::clearRecords();
    SaveReminder::resetSession(); // each row a new session: the box is shown
    frmAddAccount dialog(form);
    dialog.txtAddMailServer()->setText(server);
    dialog.txtAddLoginName()->setText(u"bob"_s);
    dialog.txtAddPassword()->setText(u"pw"_s);
    dialog.cmdAddAccountInfo()->click();

    const QList<MessageBox::Record> records = MessageBox::records();
    QCOMPARE(records.size(), 1);
    if (message.isEmpty()) {
        QCOMPARE(records.first().title, u"Account added."_s);
        // The grid shows the cell exactly as typed.
        QCOMPARE(form.gridAccounts()->rows(), 1);
        QCOMPARE(form.gridAccounts()->cell(1, 1), server);
    } else {
        QCOMPARE(records.first().text, message);
        QCOMPARE(records.first().title, u"Data input error."_s);
        QCOMPARE(form.gridAccounts()->rows(), 0);
        QCOMPARE(dialog.txtAddMailServer()->text(), server);
    }
}

QTEST_MAIN(tst_AccountAddress)
#include "tst_accountaddress.moc"
