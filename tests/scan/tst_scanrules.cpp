// The scan's rules, captions, spam action, totals and per-account results on
// a form without a window, against a control that serves mailboxes from memory.

#include "config/listtable.h"
#include "learn/learnedfilter.h"
#include "pop3/host/tarnpostproxy.h"
#include "scan/headlessform.h"
#include "scan/judgeonce.h"
#include "scan/mailboxscanner.h"
#include "scan/messageunderscan.h"
#include "scan/rules/rulebook.h"
#include "scan/rules/rulecontext.h"
#include "scan/scanprogress.h"
#include "state/appsettings.h"
#include "state/reviewlist.h"
#include "state/scanlog.h"
#include "state/statedatabase.h"
#include "tests/scan/fakemailbox.h"
#include "tests/support/learningexamples.h"
#include "tests/support/statedamage.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>
#include <sys/resource.h>

using namespace Qt::StringLiterals;
using Message = FakeMailbox::Message;
using Fault = FakeMailbox::Fault;

namespace {

const QString Closing = u"Quellmail strikes to kill and eliminates the spam before it reaches your inbox."_s;

// A program folder with the given lists, the form loaded from it, and the
// fake control in the form's place for the control.
class Fixture
{
public:
    Scan::HeadlessForm &open(const QByteArray &accounts, const QByteArray &white, const QByteArray &black,
                             const QByteArray &keywords)
    {
        QDir(m_dir.path()).mkdir(u"SpamDeleted"_s);
        write(u"accounts.dat"_s, accounts);
        write(u"whitelist.dat"_s, white);
        write(u"blacklist.dat"_s, black);
        write(u"keywords.dat"_s, keywords);
        m_form = std::make_unique<Scan::HeadlessForm>(m_dir.path());
        m_form->load();
        m_form->Tarnpost1().reset(&control);
        QObject::connect(m_form.get(), &Scan::HeadlessForm::spamAnnounced, &control, [this](const QString &text) {
            boxes.append(text);
            control.log.append(u"BOX "_s + text);
        });
        QObject::connect(m_form.get(), &Scan::HeadlessForm::summaryAnnounced, &control,
                         [this](const QString &text) { summaries.append(text); });
        QObject::connect(m_form.get(), &Scan::HeadlessForm::notified, &control,
                         [this](const QString &text) { notices.append(text); });
        return *m_form;
    }
    void setRules(Qt::CheckState white, Qt::CheckState black, Qt::CheckState ip, Qt::CheckState keywords)
    {
        // The values stats.dat keeps: 0 off, 1 on, 2 greyed.
        const auto value = [](Qt::CheckState s) { return s == Qt::Checked ? 1 : s == Qt::PartiallyChecked ? 2 : 0; };
        m_form->setSwitchValue(FormSwitch::Whitelist, value(white));
        m_form->setSwitchValue(FormSwitch::Blacklist, value(black));
        m_form->setSwitchValue(FormSwitch::SpamCop, value(ip));
        m_form->setSwitchValue(FormSwitch::Keywords, value(keywords));
    }
    void write(const QString &name, const QByteArray &bytes)
    {
        QFile f(file(name));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    QByteArray read(const QString &name) const
    {
        QFile f(file(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    QStringList archive() const
    {
        return QDir(file(u"SpamDeleted"_s)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // The spam action's steps, in the order they happened.
    QStringList spamSteps() const
    {
        QStringList steps;
        for (const QString &line : control.log) {
            // The control writes into a temporary file; its final name shows in the archive.
            if (line.startsWith(u"WRITE"_s))
                steps.append(u"WRITE"_s);
            else if (line.startsWith(u"BOX "_s) || line.startsWith(u"DELE "_s))
                steps.append(line);
        }
        return steps;
    }

    // The program's state database, as the window would read it after the scan.
    StateDatabase &state()
    {
        if (!m_state) {
            m_state = std::make_unique<StateDatabase>(m_dir.path());
            if (!m_state->open())
                qWarning() << m_state->errorText();
        }
        return *m_state;
    }

    void closeState() { m_state.reset(); }

    FakeMailbox control;
    QStringList boxes;
    QStringList summaries;
    QStringList notices;

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Scan::HeadlessForm> m_form;
    std::unique_ptr<StateDatabase> m_state;
};

// The worked example of CONTRIBUTING.md's "How to add a rule".
class EmptySubjectRule final : public Scan::Rule
{
public:
    QString name() const override { return u"empty subject"_s; }
    Scan::RuleSwitch switchedBy() const override
    {
        return {Scan::RuleSwitch::Kept::InSettings, u"Rules/emptySubject"_s};
    }
    Judgement judge(Scan::RuleContext &scan) override
    {
        if (!scan.message().subject().trimmed().isEmpty())
            return pass();
        scan.progress().setCaption(u"EMPTY SUBJECT"_s);
        return condemn({name(), QString(), u"subject"_s});
    }
};

QStringList run(Scan::MailboxScanner &scanner)
{
    QStringList captions;
    QObject::connect(&scanner, &Scan::MailboxScanner::captionWritten, &scanner,
                     [&](const QString &c) { captions << c; });
    scanner.run();
    return captions;
}

} // namespace

Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Message)
Q_DECLARE_METATYPE(ReviewList::State)
Q_DECLARE_METATYPE(QList<Scan::JudgeOnce::RuleInputs>)

class tst_ScanRules : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rulesDecideInOrder();
    void switchedOffRulesDecideNothing_data();
    void switchedOffRulesDecideNothing();
    void archiveNamesStayInsideTheFolder();
    void emptyAccountsListTouchesNothing();
    void nonNumericTotals();
    void accountResults_data();
    void accountResults();
    void verdictsSayWhy_data();
    void verdictsSayWhy();
    void announcements_data();
    void announcements();
    void failedAccountsAreSeen_data();
    void failedAccountsAreSeen();
    void heldThenDecided_data();
    void heldThenDecided();
    void deletionByUniqueId_data();
    void deletionByUniqueId();
    void unusableStateDeletesNothing_data();
    void unusableStateDeletesNothing();
    void deletionsWaitForTheUsersLastWord_data();
    void deletionsWaitForTheUsersLastWord();
    void rulesChangedDuringTheWalkAreNotRemembered();
    void scanMarkedDeletionsFollowTheSettingsNow_data();
    void scanMarkedDeletionsFollowTheSettingsNow();
    void decodedTextIsMatched_data();
    void decodedTextIsMatched();
    void senderListsReportTheFirstEntry_data();
    void senderListsReportTheFirstEntry();
    void learnedFilterJudgesLast_data();
    void learnedFilterJudgesLast();
    void anAddedRuleJudgesInItsPlace_data();
    void anAddedRuleJudgesInItsPlace();
    void rulesVersionFollowsWhatCondemns_data();
    void rulesVersionFollowsWhatCondemns();
};

void tst_ScanRules::rulesDecideInOrder()
{
    Fixture f;
    // 1: in both lists (whitelist wins); 2: blacklisted; 3: keyword in the
    // subject; 4: keyword in the body only; 5: clean, with a bracketed sender IP;
    // 6: UTF-8 subject caught by a keyword typed in another case.
    f.control.addMailbox(u"alice"_s, u"alicepw"_s,
                         {{"Boss <boss@spam.example>", "Quarterly plan", "Numbers attached."},
                          {"Pharma <deals@spam.example>", "Best prices", "Buy now."},
                          {"a@clean.example", "Cheap VIAGRA now", "Hello."},
                          {"b@clean.example", "Hello", "You are a lottery winner!"},
                          {"c@clean.example", "Meeting", "See you.", "from [10.1.2.3] by mx.example"},
                          {"d@clean.example",
                           "Gro\xc3\x9f"
                           "e \xc3\xbc"
                           "berweisung",
                           "Text."}});
    Scan::HeadlessForm &form = f.open("mail.example,alice,alicepw\r\n", "boss@\r\n", "spam.example\r\n",
                                      "viagra\r\nLottery\r\n\xc3\x9c"
                                      "BERWEISUNG\r\n");
    f.setRules(Qt::Checked, Qt::Checked, Qt::Checked, Qt::Checked);
    form.setBoxText(FormBox::TotalScanned, u"10"_s);
    form.setBoxText(FormBox::EmailsBlocked, u"4"_s);

    Scan::MailboxScanner scanner(form);
    const QStringList captions = run(scanner);

    const QString wl = u" CHECKING FOR BOSS@"_s;
    const QString bl = u" CHECKING FOR SPAM.EXAMPLE"_s;
    auto kw = [](const QString &entry, const char *where) -> QString {
        return u"KEYWORD CHECK = "_s + entry + QLatin1StringView(where);
    };
    const QString umlaut = u"\u00dcBERWEISUNG"_s;
    const QStringList expected = {
        u"Scanning mail.example (alice)\u2026"_s,
        u"FROM is BOSS <BOSS@SPAM.EXAMPLE>"_s + wl,
        u"WHITELIST ADDRESS DETECTED"_s,
        u"FROM is PHARMA <DEALS@SPAM.EXAMPLE>"_s + wl,
        u"FROM is PHARMA <DEALS@SPAM.EXAMPLE>"_s + bl,
        u"SPAM DETECTED"_s,
        u"FROM is A@CLEAN.EXAMPLE"_s + wl,
        u"FROM is A@CLEAN.EXAMPLE"_s + bl,
        kw(u"VIAGRA"_s, " CHECKING SUBJECT"),
        u"SPAM DETECTED"_s,
        u"FROM is B@CLEAN.EXAMPLE"_s + wl,
        u"FROM is B@CLEAN.EXAMPLE"_s + bl,
        kw(u"VIAGRA"_s, " CHECKING SUBJECT"),
        kw(u"VIAGRA"_s, " CHECKING BODY"),
        kw(u"LOTTERY"_s, " CHECKING SUBJECT"),
        kw(u"LOTTERY"_s, " CHECKING BODY"),
        u"SPAM DETECTED"_s,
        u"FROM is C@CLEAN.EXAMPLE"_s + wl,
        u"FROM is C@CLEAN.EXAMPLE"_s + bl,
        u"CHECKING IP ADDRESS 10.1.2.3"_s,
        kw(u"VIAGRA"_s, " CHECKING SUBJECT"),
        kw(u"VIAGRA"_s, " CHECKING BODY"),
        kw(u"LOTTERY"_s, " CHECKING SUBJECT"),
        kw(u"LOTTERY"_s, " CHECKING BODY"),
        kw(umlaut, " CHECKING SUBJECT"),
        kw(umlaut, " CHECKING BODY"),
        u"FROM is D@CLEAN.EXAMPLE"_s + wl,
        u"FROM is D@CLEAN.EXAMPLE"_s + bl,
        kw(u"VIAGRA"_s, " CHECKING SUBJECT"),
        kw(u"VIAGRA"_s, " CHECKING BODY"),
        kw(u"LOTTERY"_s, " CHECKING SUBJECT"),
        kw(u"LOTTERY"_s, " CHECKING BODY"),
        kw(umlaut, " CHECKING SUBJECT"),
        u"SPAM DETECTED"_s,
        Closing,
    };
    QCOMPARE(captions.join(u'\n'), expected.join(u'\n'));
    QCOMPARE(form.statusLine(), Closing);

    // Each spam message: archived, announced, then marked; gone after QUIT.
    QCOMPARE(f.spamSteps(),
             (QStringList{u"WRITE"_s, u"BOX Spam fromPharma <deals@spam.example>"_s, u"DELE 2"_s, u"WRITE"_s,
                          u"BOX Spam froma@clean.example"_s, u"DELE 3"_s, u"WRITE"_s, u"BOX Spam fromb@clean.example"_s,
                          u"DELE 4"_s, u"WRITE"_s, u"BOX Spam fromd@clean.example"_s, u"DELE 6"_s}));
    QCOMPARE(f.control.log.last(), u"QUIT"_s);
    QCOMPARE(f.control.subjectsLeft(u"alice"_s), (QList<QByteArray>{"Quarterly plan", "Meeting"}));
    QCOMPARE(f.archive(), (QStringList{u"Best prices.html"_s, u"Cheap VIAGRA now.html"_s,
                                       u"Gro\u00dfe \u00fcberweisung.html"_s, u"Hello.html"_s}));

    QCOMPARE(form.boxText(FormBox::TotalScanned), u"16"_s);
    QCOMPARE(form.boxText(FormBox::EmailsBlocked), u"8"_s);
    const QList<QByteArray> stats = f.read(u"stats.dat"_s).split('\n');
    QVERIFY(stats.size() >= 6);
    QCOMPARE(stats.at(4), QByteArray("8\r"));
    QCOMPARE(stats.at(5), QByteArray("16\r"));

    QCOMPARE(scanner.results().size(), 1);
    const Scan::AccountResult &r = scanner.results().constFirst();
    QCOMPARE((QStringList{r.server, r.login}), (QStringList{u"mail.example"_s, u"alice"_s}));
    QCOMPARE((QList<int>{r.scanned, r.condemned, r.deleted}), (QList<int>{6, 4, 4}));
    QVERIFY(!r.failed());
}

void tst_ScanRules::switchedOffRulesDecideNothing_data()
{
    QTest::addColumn<Qt::CheckState>("state");
    QTest::newRow("off") << Qt::Unchecked;
    QTest::newRow("greyed") << Qt::PartiallyChecked;
}

void tst_ScanRules::switchedOffRulesDecideNothing()
{
    QFETCH(Qt::CheckState, state);
    Fixture f;
    f.control.addMailbox(u"bob"_s, u"bobpw"_s, {{"x@spam.example", "viagra", "viagra"}});
    Scan::HeadlessForm &form = f.open("mail.example,bob,bobpw\r\n", "x@\r\n", "spam.example\r\n", "viagra\r\n");
    f.setRules(state, state, state, state);

    Scan::MailboxScanner scanner(form);
    QCOMPARE(run(scanner), (QStringList{u"Scanning mail.example (bob)\u2026"_s, Closing}));
    QCOMPARE(f.control.subjectsLeft(u"bob"_s).size(), 1);
    QVERIFY(f.boxes.isEmpty());
    QCOMPARE(form.boxText(FormBox::TotalScanned), u"1"_s);
    QCOMPARE(form.boxText(FormBox::EmailsBlocked), u"0"_s);
}

void tst_ScanRules::archiveNamesStayInsideTheFolder()
{
    Fixture f;
    f.control.addMailbox(u"carol"_s, u"carolpw"_s,
                         {{"x@spam.example", "Same subject", "first"},
                          {"x@spam.example", "Same subject", "second"},
                          {"x@spam.example", "", "empty subject"},
                          {"x@spam.example", "../../escape", "climber"},
                          {"x@spam.example", QByteArray(300, 'L'), "long"}});
    Scan::HeadlessForm &form = f.open("mail.example,carol,carolpw\r\n", "", "spam.example\r\n", "");
    f.setRules(Qt::Unchecked, Qt::Checked, Qt::Unchecked, Qt::Unchecked);

    Scan::MailboxScanner(form).run();

    QVERIFY(f.control.subjectsLeft(u"carol"_s).isEmpty());
    const QString longName = QString(250, u'L') + u".html"_s;
    QCOMPARE(f.archive(), (QStringList{u".._.._escape.html"_s, u".html"_s, longName, u"Same subject (2).html"_s,
                                       u"Same subject.html"_s}));
    // A later message of the same subject never replaces an earlier one.
    QVERIFY(f.read(u"SpamDeleted/Same subject.html"_s).endsWith("first"));
    QVERIFY(f.read(u"SpamDeleted/Same subject (2).html"_s).endsWith("second"));
    QVERIFY(f.read(u"SpamDeleted/.html"_s).endsWith("empty subject"));
    QVERIFY(!QFile::exists(f.file(u"escape.html"_s)));
    QCOMPARE(form.boxText(FormBox::EmailsBlocked), u"5"_s);
}

void tst_ScanRules::emptyAccountsListTouchesNothing()
{
    Fixture f;
    Scan::HeadlessForm &form = f.open("", "", "spam.example\r\n", "");
    form.setStatusLine(u"before"_s);

    Scan::MailboxScanner scanner(form);
    QVERIFY(run(scanner).isEmpty());
    QVERIFY(scanner.results().isEmpty());
    QCOMPARE(form.statusLine(), u"before"_s);
    QVERIFY(!QFile::exists(f.file(u"stats.dat"_s)));
    QVERIFY(f.control.log.isEmpty());
}

void tst_ScanRules::nonNumericTotals()
{
    Fixture f;
    f.control.addMailbox(u"gina"_s, u"ginapw"_s, {{"x@spam.example", "a", "1"}, {"ok@example.org", "b", "2"}});
    Scan::HeadlessForm &form = f.open("mail.example,gina,ginapw\r\n", "", "spam.example\r\n", "");
    f.setRules(Qt::Unchecked, Qt::Checked, Qt::Unchecked, Qt::Unchecked);
    form.setBoxText(FormBox::TotalScanned, u"lots"_s);
    form.setBoxText(FormBox::EmailsBlocked, u"many"_s);

    Scan::MailboxScanner(form).run();

    // A hand-edited total: the blocked total stays as it was, the scanned
    // total counts this run's messages.
    QCOMPARE(form.boxText(FormBox::TotalScanned), u"2"_s);
    QCOMPARE(form.boxText(FormBox::EmailsBlocked), u"many"_s);
    QCOMPARE(f.control.subjectsLeft(u"gina"_s), QList<QByteArray>{"b"});
}

void tst_ScanRules::accountResults_data()
{
    // mailbox: one letter a message, S spam (blacklisted sender), C clean;
    // the subjects are the message numbers.
    QTest::addColumn<QByteArray>("account");
    QTest::addColumn<QByteArray>("mailbox");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<int>("faultAt");
    QTest::addColumn<QList<int>>("counts"); // scanned, condemned, deleted
    QTest::addColumn<QString>("error");
    QTest::addColumn<QByteArray>("left");

    const QByteArray good = "mail.example,u,pw\r\n";
    QTest::newRow("scanned") << good << QByteArray("SCS") << Fault::None << 0 << QList<int>{3, 2, 2} << QString()
                             << QByteArray("2");
    QTest::newRow("login refused") << QByteArray("mail.example,u,wrong\r\n") << QByteArray("S") << Fault::None << 0
                                   << QList<int>{0, 0, 0}
                                   << u"Error received from PASS command: -ERR [AUTH] Authentication failed."_s
                                   << QByteArray("1");
    QTest::newRow("no host in the server cell")
        << QByteArray("pop3://,u,pw\r\n") << QByteArray("S") << Fault::None << 0 << QList<int>{0, 0, 0}
        << u"the host name is missing"_s << QByteArray("1");
    // The control closes the session: the account ends there, nothing deleted.
    QTest::newRow("retrieval fails") << good << QByteArray("SCS") << Fault::RetrieveFails << 2 << QList<int>{2, 1, 0}
                                     << u"Error retrieving the message: -ERR broken"_s << QByteArray("123");
    QTest::newRow("deletion refused") << good << QByteArray("SS") << Fault::DeleteRefused << 1 << QList<int>{2, 2, 1}
                                      << QString() << QByteArray("1");
    QTest::newRow("session lost before QUIT")
        << good << QByteArray("CS") << Fault::DropAfterDelete << 2 << QList<int>{2, 1, 0}
        << u"The connection was closed; the rest of the mailbox was not scanned."_s << QByteArray("12");
}

void tst_ScanRules::accountResults()
{
    QFETCH(QByteArray, account);
    QFETCH(QByteArray, mailbox);
    QFETCH(Fault, fault);
    QFETCH(int, faultAt);
    QFETCH(QList<int>, counts);
    QFETCH(QString, error);
    QFETCH(QByteArray, left);

    Fixture f;
    QList<Message> messages;
    for (int i = 0; i < mailbox.size(); ++i)
        messages.append({mailbox.at(i) == 'S' ? "x@spam.example" : "ok@example.org", QByteArray::number(i + 1), "."});
    f.control.addMailbox(u"u"_s, u"pw"_s, messages);
    f.control.setFault(u"u"_s, fault, faultAt);
    // A second account after it is scanned whatever became of the first.
    f.control.addMailbox(u"next"_s, u"pw"_s, {{"x@spam.example", "n", "."}});
    Scan::HeadlessForm &form = f.open(account + "mail.example,next,pw\r\n", "", "spam.example\r\n", "");
    f.setRules(Qt::Unchecked, Qt::Checked, Qt::Unchecked, Qt::Unchecked);

    Scan::MailboxScanner scanner(form);
    scanner.run();

    QCOMPARE(scanner.results().size(), 2);
    const Scan::AccountResult &r = scanner.results().constFirst();
    QCOMPARE(r.login, u"u"_s);
    QCOMPARE((QList<int>{r.scanned, r.condemned, r.deleted}), counts);
    QCOMPARE(r.error, error);
    QByteArray subjects;
    for (const QByteArray &s : f.control.subjectsLeft(u"u"_s))
        subjects += s;
    QCOMPARE(subjects, left);

    const Scan::AccountResult &next = scanner.results().constLast();
    QCOMPARE((QList<int>{next.scanned, next.condemned, next.deleted}), (QList<int>{1, 1, 1}));
    QVERIFY(!next.failed());
}

void tst_ScanRules::verdictsSayWhy_data()
{
    QTest::addColumn<Message>("message");
    QTest::addColumn<QStringList>("why"); // rule, entry as written, where

    QTest::newRow("blacklist inside a longer address")
        << Message{"brads@example.org", "Minutes", "."} << QStringList{u"blacklist"_s, u"ads@"_s, u"sender"_s};
    QTest::newRow("keyword in the subject") << Message{"bank@example.org", "Your statement, Casino Road", "."}
                                            << QStringList{u"keyword"_s, u"Casino"_s, u"subject"_s};
    QTest::newRow("keyword in the body") << Message{"council@example.org", "Notice", "Residents of Essex"}
                                         << QStringList{u"keyword"_s, u"sex"_s, u"body"_s};
}

void tst_ScanRules::verdictsSayWhy()
{
    QFETCH(Message, message);
    QFETCH(QStringList, why);

    Fixture f;
    message.uid = "uid-1";
    f.control.addMailbox(u"u"_s, u"pw"_s, {message});
    Scan::HeadlessForm &form = f.open("mail.example,u,pw\r\n", "", "ads@\r\n", "Casino\r\nsex\r\n");
    f.setRules(Qt::Checked, Qt::Checked, Qt::Unchecked, Qt::Checked);
    Scan::MailboxScanner scanner(form);
    scanner.run();

    ReviewList review(f.state());
    const QList<ReviewList::Message> rows = review.all();
    QCOMPARE(rows.size(), 1);
    const ReviewList::Message &m = rows.constFirst();
    QCOMPARE((QStringList{m.rule, m.entry, m.matchedIn}), why);
    QCOMPARE(m.server, u"mail.example"_s);
    QCOMPARE(m.uid, u"uid-1"_s);
    QCOMPARE(m.sender, QString::fromLatin1(message.from));
    QCOMPARE(m.state, ReviewList::State::Deleted); // held only when asked
    QCOMPARE(f.archive(), QStringList{m.archiveFile});
    QVERIFY(m.size > 0);

    const QList<ScanLog::Record> log = ScanLog(f.state()).latest(5);
    QCOMPARE(log.size(), 1);
    QCOMPARE((QList<int>{log.at(0).scanned, log.at(0).condemned, log.at(0).deleted}), (QList<int>{1, 1, 1}));
    QCOMPARE(log.at(0).outcome, ScanLog::ok());
    QCOMPARE(log.at(0).login, u"u"_s);
}

void tst_ScanRules::announcements_data()
{
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<int>("boxes");
    QTest::addColumn<int>("summaries");
    QTest::addColumn<int>("notices");

    QTest::newRow("a box for each message") << QByteArray() << 2 << 0 << 0;
    QTest::newRow("one summary when the scan ends") << QByteArray("summary") << 0 << 1 << 0;
    QTest::newRow("a tray notification only") << QByteArray("tray") << 0 << 0 << 1;
}

void tst_ScanRules::announcements()
{
    QFETCH(QByteArray, mode);
    QFETCH(int, boxes);
    QFETCH(int, summaries);
    QFETCH(int, notices);

    Fixture f;
    if (!mode.isEmpty())
        f.write(u"settings.ini"_s, "[Scan]\nannounce=" + mode + "\n");
    f.control.addMailbox(u"u"_s, u"pw"_s,
                         {{"a@spam.example", "1", "."}, {"ok@example.org", "2", "."}, {"b@spam.example", "3", "."}});
    Scan::HeadlessForm &form = f.open("mail.example,u,pw\r\n", "", "spam.example\r\n", "");
    f.setRules(Qt::Unchecked, Qt::Checked, Qt::Unchecked, Qt::Unchecked);
    Scan::MailboxScanner scanner(form);
    scanner.run();

    QCOMPARE(f.boxes.size(), boxes);
    QCOMPARE(f.summaries.size(), summaries);
    QCOMPARE(f.notices.size(), notices);
    // Whatever the mode, both were condemned and named once the scan ended.
    QCOMPARE(f.control.subjectsLeft(u"u"_s), QList<QByteArray>{"2"});
    const QString told = (f.boxes + f.summaries + f.notices).join(u'\n');
    QVERIFY2(told.contains(u"Spam froma@spam.example"_s) && told.contains(u"Spam fromb@spam.example"_s),
             qPrintable(told));
    // The account's result lists every verdict, whatever was announced.
    QStringList listed;
    for (const Scan::AccountResult::Condemned &c : scanner.results().at(0).spam)
        listed.append(c.from + u'/' + c.subject + u'/' + c.rule + u'/' + c.entry + (c.held ? u"/held"_s : u""_s));
    QCOMPARE(listed,
             (QStringList{u"a@spam.example/1/blacklist/spam.example"_s, u"b@spam.example/3/blacklist/spam.example"_s}));
    QCOMPARE(form.statusLine(), Closing);
}

void tst_ScanRules::failedAccountsAreSeen_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");

    QTest::newRow("login refused") << 15 << u"Error received from PASS command: -ERR [AUTH] Authentication failed."_s;
    QTest::newRow("unknown host") << 10 << u"Host not found"_s;
    QTest::newRow("certificate refused") << 32
                                         << u"TLS handshake failed: The certificate is self-signed, and untrusted"_s;
    QTest::newRow("server never answers")
        << 11 << u"Connection was accepted but no data received before timeout. Connection closed"_s;
}

void tst_ScanRules::failedAccountsAreSeen()
{
    QFETCH(int, code);
    QFETCH(QString, text);

    Fixture f;
    f.control.addMailbox(u"bad"_s, u"pw"_s, {});
    f.control.setConnectFault(u"bad"_s, qint16(code), text);
    f.control.addMailbox(u"good"_s, u"pw"_s, {{"ok@example.org", "1", "."}});
    Scan::HeadlessForm &form = f.open("mail.example,bad,pw\r\nmail.example,good,pw\r\n", "", "", "");
    Scan::MailboxScanner scanner(form);
    scanner.run();

    // The status line names the account and says why, as an item of the
    // failed accounts' list (without a closing full stop); the tray says the same.
    const QString line = u"1 account failed: mail.example (bad): "_s + (text.endsWith(u'.') ? text.chopped(1) : text);
    QCOMPARE(form.statusLine(), line);
    QCOMPARE(f.notices, QStringList{line});
    QVERIFY(f.boxes.isEmpty());

    const QList<ScanLog::Record> log = ScanLog(f.state()).latest(5);
    QCOMPARE(log.size(), 2);
    QCOMPARE(log.at(1).login, u"bad"_s);
    QCOMPARE(log.at(1).outcome, text);
    QVERIFY(log.at(1).failed());
    QCOMPARE(log.at(0).outcome, ScanLog::ok());
}

void tst_ScanRules::heldThenDecided_data()
{
    QTest::addColumn<QString>("action");     // "delete", "not spam", "delete, then not spam during the walk"
    QTest::addColumn<bool>("goneMeanwhile"); // another client removed the message first
    QTest::addColumn<bool>("serverUids");    // false: a server without UIDL
    QTest::addColumn<QList<QByteArray>>("left");
    QTest::addColumn<ReviewList::State>("state");

    QTest::newRow("delete from server, found by its id after others went")
        << u"delete"_s << false << true << QList<QByteArray>{"3", "4"} << ReviewList::State::Deleted;
    QTest::newRow("delete from server, already gone")
        << u"delete"_s << true << true << QList<QByteArray>{"3", "4"} << ReviewList::State::Gone;
    QTest::newRow("delete from server, already gone, then kept during the walk")
        << u"delete, then not spam during the walk"_s << true << true << QList<QByteArray>{"3", "4"}
        << ReviewList::State::Kept;
    QTest::newRow("not spam: never condemned again")
        << u"not spam"_s << false << true << QList<QByteArray>{"2", "3", "4"} << ReviewList::State::Kept;
    QTest::newRow("no UIDL: delete from server, found by its headers")
        << u"delete"_s << false << false << QList<QByteArray>{"3", "4"} << ReviewList::State::Deleted;
    QTest::newRow("no UIDL: not spam, never condemned again")
        << u"not spam"_s << false << false << QList<QByteArray>{"2", "3", "4"} << ReviewList::State::Kept;
}

void tst_ScanRules::heldThenDecided()
{
    QFETCH(QString, action);
    QFETCH(bool, goneMeanwhile);
    QFETCH(bool, serverUids);
    QFETCH(QList<QByteArray>, left);
    QFETCH(ReviewList::State, state);

    Fixture f;
    f.write(u"settings.ini"_s, "[Scan]\nholdForReview=true\nannounce=summary\n");
    QList<Message> messages{{"ok@example.org", "1", "."},
                            {"x@spam.example", "2", "."},
                            {"ok@example.org", "3", "."},
                            {"y@spam.example", "4", "."}};
    for (int k = 0; serverUids && k < messages.size(); ++k)
        messages[k].uid = "u" + QByteArray::number(k + 1);
    f.control.addMailbox(u"u"_s, u"pw"_s, messages);
    Scan::HeadlessForm &form = f.open("mail.example,u,pw\r\n", "", "spam.example\r\n", "");
    f.setRules(Qt::Unchecked, Qt::Checked, Qt::Unchecked, Qt::Unchecked);
    {
        Scan::MailboxScanner scanner(form);
        scanner.run();
        QCOMPARE(scanner.results().at(0).spam.size(), 2);
        QVERIFY(scanner.results().at(0).spam.at(0).held && scanner.results().at(0).spam.at(1).held);
    }
    // Held: archived, announced, left on the server, not counted as blocked.
    QCOMPARE(f.control.subjectsLeft(u"u"_s), (QList<QByteArray>{"1", "2", "3", "4"}));
    QCOMPARE(f.archive().size(), 2);
    QCOMPARE(form.boxText(FormBox::EmailsBlocked), u"0"_s);
    ReviewList review(f.state());
    const QList<ReviewList::Message> held = review.all();
    QCOMPARE(held.size(), 2);
    QCOMPARE(held.at(0).state, ReviewList::State::Held);
    const qint64 second = held.at(1).id; // the message with subject 2
    QCOMPARE(held.at(1).subject, u"2"_s);
    QCOMPARE(held.at(1).uid.startsWith(u"content:"_s), !serverUids);

    // Message 1 goes elsewhere: u2 is number 1 at the next scan.
    f.control.removeMessage(u"u"_s, "1");
    if (goneMeanwhile)
        f.control.removeMessage(u"u"_s, "2");
    if (action.startsWith(u"delete"_s))
        QVERIFY(review.setState({second}, ReviewList::State::DeleteRequested));
    else
        QVERIFY(review.markNotSpam({second}));
    const bool keptDuringWalk = action.endsWith(u"during the walk"_s);
    if (keptDuringWalk) {
        f.control.afterCommand = [&](const QString &line) {
            if (line == u"RETR 1"_s)
                QVERIFY(review.markNotSpam({second}));
        };
    }
    // The other held message stays held whatever the user does with this one.
    f.control.log.clear();
    {
        Scan::MailboxScanner scanner(form);
        scanner.run();
    }
    f.control.afterCommand = nullptr;
    QCOMPARE(f.control.subjectsLeft(u"u"_s), left);
    QCOMPARE(review.byId(second)->state, state);
    QCOMPARE(f.archive().size(), 2); // nothing archived twice
    QVERIFY(!f.control.log.contains(u"WRITE"_s));
    QCOMPARE(f.control.log.filter(u"DELE"_s),
             action == u"delete"_s && !goneMeanwhile ? QStringList{u"DELE 1"_s} : QStringList());
    QCOMPARE(form.boxText(FormBox::EmailsBlocked), action == u"delete"_s && !goneMeanwhile ? u"1"_s : u"0"_s);
    if (goneMeanwhile && !keptDuringWalk)
        QCOMPARE(form.statusLine(), u"mail.example: 1 message(s) to be deleted were no longer on the server."_s);
    else
        QCOMPARE(form.statusLine(), Closing);
    QVERIFY(f.notices.isEmpty()); // not an account failure
}

void tst_ScanRules::deletionByUniqueId_data()
{
    // Scan 1 holds the spam S (uid "s") beside the ham H (uid "h"); the user
    // acts on S; the mailbox changes as the row says; scan 2 runs.
    QTest::addColumn<QString>("action");    // "delete", "not spam", "none"
    QTest::addColumn<QString>("meanwhile"); // what changed before scan 2
    QTest::addColumn<bool>("holdAfter");    // the hold setting of scan 2
    QTest::addColumn<QStringList>("dele");
    QTest::addColumn<QList<QByteArray>>("left");
    QTest::addColumn<int>("archived");
    QTest::addColumn<ReviewList::State>("state"); // of S's row
    QTest::addColumn<QString>("problem");         // in the account's problems; empty: none

    using State = ReviewList::State;
    const QList<QByteArray> both{"S", "H"};
    QTest::newRow("the same message: deleted") << u"delete"_s << u"nothing"_s << true << QStringList{u"DELE 1"_s}
                                               << QList<QByteArray>{"H"} << 1 << State::Deleted << QString();
    QTest::newRow("beside a message too large to fetch")
        << u"delete"_s << u"ham too large"_s << true << QStringList{u"DELE 1"_s} << QList<QByteArray>{"H"} << 1
        << State::Deleted << u"message 2 was left on the server"_s;
    QTest::newRow("a ham listed first under the same id")
        << u"delete"_s << u"ham shares the id, listed first"_s << true << QStringList()
        << QList<QByteArray>{"H2", "S", "H"} << 1 << State::DeleteRequested
        << u"2 messages share the unique id of a message to be deleted"_s;
    QTest::newRow("a ham listed after under the same id")
        << u"delete"_s << u"ham shares the id, listed after"_s << false << QStringList()
        << QList<QByteArray>{"S", "H", "H2"} << 1 << State::DeleteRequested
        << u"2 messages share the unique id of a message to be deleted"_s;
    QTest::newRow("the id reused for a new ham")
        << u"delete"_s << u"new ham takes the id"_s << false << QStringList() << QList<QByteArray>{"H", "H2"} << 1
        << State::DeleteRequested << u"the message now under the unique id of a message to be deleted is another one"_s;
    QTest::newRow("the same headers, another size")
        << u"delete"_s << u"body grows"_s << false << QStringList() << QList<QByteArray>{"S", "H"} << 1
        << State::DeleteRequested << u"the message now under the unique id of a message to be deleted is another one"_s;
    QTest::newRow("the sender whitelisted since")
        << u"delete"_s << u"sender whitelisted"_s << false << QStringList() << both << 1 << State::Held
        << u"is from a sender now on the whitelist; it was kept"_s;
    QTest::newRow("marked not spam while the scan runs") << u"delete"_s << u"not spam during the scan"_s << false
                                                         << QStringList() << both << 1 << State::Kept << QString();
    QTest::newRow("a row judged before fingerprints were kept")
        << u"delete"_s << u"row without fingerprint"_s << false << QStringList() << both << 1 << State::DeleteRequested
        << u"judged by an earlier version"_s;
    QTest::newRow("to be deleted, found under a new id")
        << u"delete"_s << u"new ids"_s << false << QStringList() << both << 1 << State::DeleteRequested
        << u"is on the server under another unique id"_s;
    QTest::newRow("held, its id changes at every session: not archived again")
        << u"none"_s << u"new ids"_s << true << QStringList() << both << 1 << State::Held << QString();
    QTest::newRow("kept, its id changes: never condemned again")
        << u"not spam"_s << u"new ids"_s << false << QStringList() << both << 1 << State::Kept << QString();
}

void tst_ScanRules::deletionByUniqueId()
{
    QFETCH(QString, action);
    QFETCH(QString, meanwhile);
    QFETCH(bool, holdAfter);
    QFETCH(QStringList, dele);
    QFETCH(QList<QByteArray>, left);
    QFETCH(int, archived);
    QFETCH(ReviewList::State, state);
    QFETCH(QString, problem);

    Fixture f;
    f.write(u"settings.ini"_s, "[Scan]\nholdForReview=true\nannounce=summary\n");
    const Message spam{"Pharma <deals@spam.example>", "S", "Buy now.", {}, "s", "Message-ID: <s@spam.example>\r\n"};
    const Message ham{"friend@example.org", "H", "Hello.", {}, "h", "Message-ID: <h@example.org>\r\n"};
    Message other{"pal@example.org", "H2", "Lunch?", {}, "s", "Message-ID: <h2@example.org>\r\n"};
    f.control.addMailbox(u"u"_s, u"pw"_s, {spam, ham});
    Scan::HeadlessForm &form = f.open("mail.example,u,pw\r\n", "", "spam.example\r\n", "");
    f.setRules(Qt::Checked, Qt::Checked, Qt::Unchecked, Qt::Unchecked);
    Scan::MailboxScanner(form).run();
    ReviewList review(f.state());
    QCOMPARE(review.all().size(), 1);
    const qint64 id = review.all().at(0).id;
    QCOMPARE(review.all().at(0).fingerprint.size(), 40);
    if (action == u"delete"_s)
        QVERIFY(review.setState({id}, ReviewList::State::DeleteRequested));
    else if (action == u"not spam"_s)
        QVERIFY(review.markNotSpam({id}));

    if (meanwhile == u"ham shares the id, listed first"_s) {
        f.control.addMailbox(u"u"_s, u"pw"_s, {other, spam, ham});
    } else if (meanwhile == u"ham shares the id, listed after"_s) {
        f.control.addMailbox(u"u"_s, u"pw"_s, {spam, ham, other});
    } else if (meanwhile == u"new ham takes the id"_s) {
        f.control.addMailbox(u"u"_s, u"pw"_s, {ham, other});
    } else if (meanwhile == u"body grows"_s) {
        Message grown = spam;
        grown.body += "!";
        f.control.addMailbox(u"u"_s, u"pw"_s, {grown, ham});
    } else if (meanwhile == u"ham too large"_s) {
        f.control.setFault(u"u"_s, Fault::RetrieveRefused, 2);
    } else if (meanwhile == u"sender whitelisted"_s) {
        form.gridwhitelist()->appendRow({u"deals@spam.example"_s});
    } else if (meanwhile == u"row without fingerprint"_s) {
        QVERIFY(QSqlQuery(f.state().connection())
                    .exec(u"UPDATE spam_messages SET fingerprint = NULL, fetched_size = NULL"_s));
    } else if (meanwhile == u"new ids"_s) {
        Message renamed = spam;
        renamed.uid = "s-2";
        f.control.addMailbox(u"u"_s, u"pw"_s, {renamed, ham});
    }
    f.write(u"settings.ini"_s,
            holdAfter ? "[Scan]\nholdForReview=true\nannounce=summary\n" : "[Scan]\nannounce=summary\n");
    f.control.log.clear();
    Scan::MailboxScanner scanner(form);
    if (meanwhile == u"not spam during the scan"_s) {
        // The window's Spam tab, while the scan judges the ham after S.
        connect(&scanner, &Scan::MailboxScanner::captionWritten, this, [&](const QString &caption) {
            if (caption.startsWith(u"FROM is FRIEND"_s) && review.byId(id)->state != ReviewList::State::Kept)
                QVERIFY(review.markNotSpam({id}));
        });
    }
    scanner.run();

    QCOMPARE(f.control.log.filter(u"DELE"_s), dele);
    QCOMPARE(f.control.subjectsLeft(u"u"_s), left);
    QCOMPARE(f.archive().size(), archived);
    QCOMPARE(review.byId(id)->state, state);
    QCOMPARE(review.all().size(), archived);
    const QStringList problems = scanner.results().at(0).problems;
    if (problem.isEmpty()) {
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
        QCOMPARE(form.statusLine(), Closing);
    } else {
        QCOMPARE(problems.size(), 1);
        QVERIFY2(problems.at(0).startsWith(u"mail.example: "_s) && problems.at(0).contains(problem),
                 qPrintable(problems.at(0)));
        QCOMPARE(form.statusLine(), problems.at(0));
    }
    QCOMPARE(scanner.problems(), problems);
    QCOMPARE(form.boxText(FormBox::EmailsBlocked), dele.isEmpty() ? u"0"_s : u"1"_s);
}

void tst_ScanRules::unusableStateDeletesNothing_data()
{
    using ProgramTest::StateDamage;
    QTest::addColumn<int>("damage");     // a StateDamage; -1: the disk is full
    QTest::addColumn<bool>("readable");  // what was held and kept is still known
    QTest::addColumn<QString>("why");    // in the first problem
    QTest::addColumn<bool>("untouched"); // the file's bytes are as they were

    QTest::newRow("corrupt") << int(StateDamage::Corrupt) << false << u"is damaged"_s << true;
    QTest::newRow("not SQLite") << int(StateDamage::NotSqlite) << false << u"is not a readable database"_s << true;
    QTest::newRow("newer schema") << int(StateDamage::NewerSchema) << false << u"was written by a newer version"_s
                                  << true;
    QTest::newRow("another program's tables")
        << int(StateDamage::ForeignTables) << false << u"holds another program's tables"_s << true;
    QTest::newRow("a link in its place") << int(StateDamage::Link) << false << u"is a link"_s << false;
    QTest::newRow("a link at the journal's name")
        << int(StateDamage::JournalLink) << false << u"-wal is not a plain file"_s << false;
    QTest::newRow("locked by another program")
        << int(StateDamage::ExclusiveLock) << false << u"database is locked"_s << false;
    QTest::newRow("a write lock held elsewhere")
        << int(StateDamage::WriteLock) << true << u"The scan log cannot be written"_s << false;
    QTest::newRow("read-only") << int(StateDamage::ReadOnly) << true << u"The scan log cannot be written"_s << false;
    QTest::newRow("disk full") << -1 << false << u"disk I/O error"_s << false;
}

void tst_ScanRules::unusableStateDeletesNothing()
{
    QFETCH(int, damage);
    QFETCH(bool, readable);
    QFETCH(QString, why);
    QFETCH(bool, untouched);

    // Scan 1 holds the spam S and K; the user says K is not spam.
    Fixture f;
    f.write(u"settings.ini"_s, "[Scan]\nholdForReview=true\nannounce=summary\n");
    const Message s{"a@spam.example", "S", "Buy.", {}, "s"};
    const Message k{"b@spam.example", "K", "Your order.", {}, "k"};
    const Message h{"ok@example.org", "H", "Hello.", {}, "h"};
    const Message n{"c@spam.example", "N", "New offer.", {}, "n"};
    f.control.addMailbox(u"u"_s, u"pw"_s, {s, k, h});
    Scan::HeadlessForm &form = f.open("mail.example,u,pw\r\n", "", "spam.example\r\n", "");
    f.setRules(Qt::Unchecked, Qt::Checked, Qt::Unchecked, Qt::Unchecked);
    Scan::MailboxScanner(form).run();
    {
        ReviewList review(f.state());
        QCOMPARE(review.all().size(), 2);
        QVERIFY(review.markNotSpam({review.all().at(0).id})); // K, the newest
    }
    f.closeState();

    // Scan 2, the hold off, a new spam N, and the database unusable.
    f.control.addMailbox(u"u"_s, u"pw"_s, {s, k, h, n});
    f.write(u"settings.ini"_s, "[Scan]\nannounce=summary\n");
    ProgramTest::StateDamager damager;
    if (damage >= 0)
        QVERIFY(damager.apply(f.file(u""_s), ProgramTest::StateDamage(damage)));
    const QByteArray before = untouched ? f.read(StateDatabase::fileName()) : QByteArray();
    form.setBoxText(FormBox::EmailsBlocked, u"0"_s);
    f.control.log.clear();

    Scan::MailboxScanner scanner(form);
    rlimit savedLimit{};
    ::getrlimit(RLIMIT_FSIZE, &savedLimit);
    if (damage < 0) {
        // Room for the archive copies and stats.dat, none for the database's journal.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = savedLimit;
        small.rlim_cur = 2000;
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &small) == 0);
    }
    scanner.run();
    ::setrlimit(RLIMIT_FSIZE, &savedLimit);

    QCOMPARE(f.control.log.filter(u"DELE"_s), QStringList());
    QCOMPARE(f.control.subjectsLeft(u"u"_s), (QList<QByteArray>{"S", "K", "H", "N"}));
    QCOMPARE(form.boxText(FormBox::EmailsBlocked), u"0"_s);
    // Judged and archived all the same; what was held before is known when
    // the list can still be read.
    QStringList condemned;
    for (const Scan::AccountResult::Condemned &c : scanner.results().at(0).spam) {
        QVERIFY(c.held);
        condemned.append(c.subject);
    }
    QCOMPARE(condemned, readable ? QStringList{u"N"_s} : (QStringList{u"S"_s, u"K"_s, u"N"_s}));
    QCOMPARE(f.archive().size(), 2 + int(condemned.size()));

    // Said on the status line, in the tray and in the problems.
    const QStringList problems = scanner.problems();
    QVERIFY(problems.size() >= 2);
    QVERIFY2(problems.at(0).contains(why), qPrintable(problems.at(0)));
    QVERIFY2(problems.at(0).contains(u"deleted"_s), qPrintable(problems.at(0)));
    QCOMPARE(
        problems.last(),
        u"mail.example: %1 condemned message(s) were left on the server: nothing is deleted while the state database cannot be used."_s
            .arg(condemned.size()));
    QVERIFY(scanner.results().at(0).problems.contains(problems.last()));
    QVERIFY2(form.statusLine().endsWith(problems.last()), qPrintable(form.statusLine()));
    QCOMPARE(f.notices.size(), 1);
    QCOMPARE(f.notices.at(0), form.statusLine());
    // Never replaced, never migrated behind the user's back.
    if (untouched)
        QCOMPARE(f.read(StateDatabase::fileName()), before);
    if (damage == int(ProgramTest::StateDamage::JournalLink)) {
        QFile victim(damager.outside(u"victim"_s));
        QVERIFY(victim.open(QIODevice::ReadOnly));
        QCOMPARE(victim.readAll(), QByteArray("keep me"));
    }
}

void tst_ScanRules::deletionsWaitForTheUsersLastWord_data()
{
    QTest::addColumn<QString>("meanwhile"); // what happens once the first spam has its DELE
    QTest::addColumn<QList<QByteArray>>("left");
    QTest::addColumn<ReviewList::State>("state"); // of the first spam's row
    QTest::addColumn<QString>("why");             // of the messages left; empty: deleted at QUIT
    QTest::addColumn<QList<QByteArray>>("leftAtNextScan");

    const QList<QByteArray> all{"S", "H", "N"};
    QTest::newRow("nothing: deleted at QUIT")
        << u"nothing"_s << QList<QByteArray>{"H"} << ReviewList::State::Deleted << QString() << QList<QByteArray>{"H"};
    QTest::newRow("kept on the Spam tab")
        << u"not spam"_s << all << ReviewList::State::Kept << u"the Spam tab changed what was to be deleted"_s
        << QList<QByteArray>{"S", "H"};
    QTest::newRow("held again on the Spam tab")
        << u"held"_s << all << ReviewList::State::Held << u"the Spam tab changed what was to be deleted"_s
        << QList<QByteArray>{"S", "H"};
    QTest::newRow("hold saved on the Settings tab: held at the next scan")
        << u"hold"_s << all << ReviewList::State::DeleteRequested << u"the settings saved while the scan went on"_s
        << all;
    QTest::newRow("the database locked by another program") << u"locked"_s << all << ReviewList::State::DeleteRequested
                                                            << u"the state database failed"_s << QList<QByteArray>{"H"};
}

void tst_ScanRules::deletionsWaitForTheUsersLastWord()
{
    QFETCH(QString, meanwhile);
    QFETCH(QList<QByteArray>, left);
    QFETCH(ReviewList::State, state);
    QFETCH(QString, why);
    QFETCH(QList<QByteArray>, leftAtNextScan);

    Fixture f;
    f.write(u"settings.ini"_s, "[Scan]\nannounce=summary\n[LearnedFilter]\nenabled=true\n");
    f.control.addMailbox(u"u"_s, u"pw"_s,
                         {{"a@spam.example", "S", "Buy.", {}, "s"},
                          {"ok@example.org", "H", "Hello.", {}, "h"},
                          {"c@spam.example", "N", "New offer.", {}, "n"}});
    Scan::HeadlessForm &form = f.open("mail.example,u,pw\r\n", "", "spam.example\r\n", "");
    f.setRules(Qt::Unchecked, Qt::Checked, Qt::Unchecked, Qt::Unchecked);
    // The Spam tab works on its own connection while the walk goes on.
    std::optional<ProgramTest::StateDamager> damager;
    f.control.afterCommand = [&](const QString &line) {
        if (line != u"DELE 1"_s)
            return;
        StateDatabase tab(f.file(u""_s));
        QVERIFY(tab.open());
        ReviewList review(tab);
        const qint64 first = review.all().constLast().id;
        if (meanwhile == u"not spam"_s)
            QVERIFY(review.markNotSpam({first}));
        else if (meanwhile == u"held"_s)
            QVERIFY(review.setState({first}, ReviewList::State::Held));
        else if (meanwhile == u"hold"_s)
            f.write(u"settings.ini"_s, "[Scan]\nannounce=summary\nholdForReview=true\n[LearnedFilter]\nenabled=true\n");
        else if (meanwhile == u"locked"_s)
            QVERIFY(damager.emplace().apply(f.file(u""_s), ProgramTest::StateDamage::WriteLock));
    };
    Scan::MailboxScanner scanner(form);
    scanner.run();
    f.control.afterCommand = nullptr;

    QCOMPARE(f.control.subjectsLeft(u"u"_s), left);
    QCOMPARE(f.control.log.contains(u"QUIT"_s), why.isEmpty());
    QCOMPARE(f.control.log.contains(u"DROP"_s), !why.isEmpty());
    QCOMPARE(form.boxText(FormBox::EmailsBlocked), why.isEmpty() ? u"2"_s : u"0"_s);
    if (!why.isEmpty()) {
        const QString told = scanner.problems().constLast();
        // Once the database failed, the second spam was not even marked.
        const int marked = meanwhile == u"locked"_s ? 1 : 2;
        QVERIFY2(told.startsWith(
                     u"mail.example: %1 spam message(s) marked for deletion were left on the server: "_s.arg(marked))
                     && told.contains(why),
                 qPrintable(told));
    }
    damager.reset();
    QCOMPARE(ReviewList(f.state()).all().constLast().state, state);
    // The blacklist's spam is learned once the server has deleted it, not before.
    Scan::LearnedFilter learned(f.state());
    QVERIFY(learned.open());
    QCOMPARE(int(learned.spamMessages()), why.isEmpty() ? 2 : 0);

    // What is still to be deleted goes by its unique id at the next scan; the user's word stands.
    Scan::MailboxScanner(form).run();
    QCOMPARE(f.control.subjectsLeft(u"u"_s), leftAtNextScan);
}

void tst_ScanRules::rulesChangedDuringTheWalkAreNotRemembered()
{
    // Checked once: a message judged while keywords were switched off for a
    // moment must not be passed over once they are back on.
    Fixture f;
    f.write(u"settings.ini"_s, "[Scan]\njudgeOnce=true\nholdForReview=true\nannounce=summary\n");
    f.control.addMailbox(
        u"u"_s, u"pw"_s,
        {{"ok@example.org", "Hello", "Lunch?", {}, "h"}, {"ok@example.org", "Offer", "Cheap casino chips.", {}, "c"}});
    Scan::HeadlessForm &form = f.open("mail.example,u,pw\r\n", "", "", "casino\r\n");
    f.setRules(Qt::Unchecked, Qt::Unchecked, Qt::Unchecked, Qt::Checked);
    f.control.afterCommand = [&](const QString &line) {
        if (line == u"RETR 1"_s)
            f.setRules(Qt::Unchecked, Qt::Unchecked, Qt::Unchecked, Qt::Unchecked);
    };
    Scan::MailboxScanner(form).run();
    f.control.afterCommand = nullptr;
    QVERIFY(ReviewList(f.state()).all().isEmpty());

    f.setRules(Qt::Unchecked, Qt::Unchecked, Qt::Unchecked, Qt::Checked);
    Scan::MailboxScanner scanner(form);
    scanner.run();
    QCOMPARE(scanner.results().at(0).spam.size(), 1);
    QCOMPARE(scanner.results().at(0).spam.at(0).subject, u"Offer"_s);
}

void tst_ScanRules::scanMarkedDeletionsFollowTheSettingsNow_data()
{
    QTest::addColumn<QByteArray>("settings"); // at the second scan
    QTest::addColumn<QString>("asked");       // "scan", or "user": the Spam tab asked again
    QTest::addColumn<QList<QByteArray>>("left");
    QTest::addColumn<ReviewList::State>("state");

    QTest::newRow("still deleting: deleted by its id")
        << QByteArray() << u"scan"_s << QList<QByteArray>{"H"} << ReviewList::State::Deleted;
    QTest::newRow("holding now: held") << QByteArray("holdForReview=true\n") << u"scan"_s << QList<QByteArray>{"S", "H"}
                                       << ReviewList::State::Held;
    QTest::newRow("holding now, but the user asked: deleted")
        << QByteArray("holdForReview=true\n") << u"user"_s << QList<QByteArray>{"H"} << ReviewList::State::Deleted;
}

void tst_ScanRules::scanMarkedDeletionsFollowTheSettingsNow()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, asked);
    QFETCH(QList<QByteArray>, left);
    QFETCH(ReviewList::State, state);

    // Scan 1 condemns S and marks it, but the session is lost before QUIT.
    Fixture f;
    f.write(u"settings.ini"_s, "[Scan]\nannounce=summary\n");
    f.control.addMailbox(u"u"_s, u"pw"_s,
                         {{"a@spam.example", "S", "Buy.", {}, "s"}, {"ok@example.org", "H", "Hello.", {}, "h"}});
    f.control.setFault(u"u"_s, Fault::DropAfterDelete, 1);
    Scan::HeadlessForm &form = f.open("mail.example,u,pw\r\n", "", "spam.example\r\n", "");
    f.setRules(Qt::Unchecked, Qt::Checked, Qt::Unchecked, Qt::Unchecked);
    Scan::MailboxScanner(form).run();
    QCOMPARE(f.control.subjectsLeft(u"u"_s), (QList<QByteArray>{"S", "H"}));
    ReviewList review(f.state());
    const ReviewList::Message marked = review.all().constFirst();
    QCOMPARE(marked.state, ReviewList::State::DeleteRequested);
    QVERIFY(marked.byScan);
    if (asked == u"user"_s)
        QVERIFY(review.setState({marked.id}, ReviewList::State::DeleteRequested));

    f.control.setFault(u"u"_s, Fault::None, 0);
    f.write(u"settings.ini"_s, "[Scan]\nannounce=summary\n" + settings);
    Scan::MailboxScanner scanner(form);
    scanner.run();
    QCOMPARE(f.control.subjectsLeft(u"u"_s), left);
    QCOMPARE(review.byId(marked.id)->state, state);
    QCOMPARE(review.all().size(), 1); // not condemned a second time
    if (state == ReviewList::State::Held)
        QCOMPARE(
            form.statusLine(),
            u"mail.example: 1 message(s) an earlier scan was to delete are held for review now, as the settings ask."_s);
}

void tst_ScanRules::decodedTextIsMatched_data()
{
    QTest::addColumn<Message>("message");
    QTest::addColumn<QStringList>("why"); // rule, entry as written, where; empty: not condemned

    const QByteArray qp =
        "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: quoted-printable\r\n";
    const QByteArray b64 = "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n";
    const auto keyword = [](const char *entry, const char *where) {
        return QStringList{u"keyword"_s, QString::fromUtf8(entry), QString::fromLatin1(where)};
    };

    QTest::newRow("subject as a UTF-8 encoded word")
        << Message{"a@example.org", "=?utf-8?B?Q2hlYXAgVmlhZ3JhIGhlcmU=?=", "."}
        << keyword("viagra", "decoded subject");
    QTest::newRow("subject as a KOI8-R encoded word, Cyrillic entry")
        << Message{"a@example.org", "=?koi8-r?B?4s/M2NvB0SDTy8nEy8E=?=", "."}
        << keyword("\xd1\x81\xd0\xba\xd0\xb8\xd0\xb4\xd0\xba\xd0\xb0", "decoded subject");
    QTest::newRow("Latin-1 Q encoded word split across two words")
        << Message{"a@example.org", "=?iso-8859-1?Q?Gro=DFe_lot?= =?iso-8859-1?Q?tery?=", "."}
        << keyword("lottery", "decoded subject");
    QTest::newRow("quoted-printable soft line break inside the keyword")
        << Message{"a@example.org", "News", "Try our on=\r\nline cas=\r\nino today.\r\n", {}, {}, qp}
        << keyword("casino", "decoded body");
    QTest::newRow("base64 body") << Message{"a@example.org",
                                            "News",
                                            "V2VsY29tZSB0byB0aGUgb25saW5lIGNhc2lubyBvZiB5b3VyIGRyZWFtcy4NCg==\r\n",
                                            {},
                                            {},
                                            b64}
                                 << keyword("casino", "decoded body");
    QTest::newRow("HTML entity inside the keyword, tags around it")
        << Message{"a@example.org",
                   "News",
                   "<html><body><p>Play <b>c&#97;sino</b> now</p></body></html>\r\n",
                   {},
                   {},
                   "Content-Type: text/html; charset=us-ascii\r\n"}
        << keyword("casino", "decoded body");
    QTest::newRow("nested multipart, base64 text part inside an alternative")
        << Message{"a@example.org",
                   "News",
                   "--outer\r\nContent-Type: multipart/alternative; boundary=inner\r\n\r\n"
                   "--inner\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                   "WW91IGFyZSBhIGxvdHRlcnkgd2lubmVyLg0K\r\n--inner--\r\n"
                   "--outer\r\nContent-Type: application/octet-stream\r\n\r\nxyz\r\n--outer--\r\n",
                   {},
                   {},
                   "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=outer\r\n"}
        << keyword("lottery", "decoded body");
    QTest::newRow("broken base64 does not hide the raw match")
        << Message{"a@example.org", "News", "!!casino!!\r\n", {}, {}, b64} << keyword("casino", "body");
    QTest::newRow("a link's target is raw text only, still matched")
        << Message{"a@example.org",
                   "News",
                   "<a href=\"http://casino.example/\">click</a>\r\n",
                   {},
                   {},
                   "Content-Type: text/html\r\n"}
        << keyword("casino", "body");
    QTest::newRow("encoded display name on the blacklist")
        << Message{"=?utf-8?B?TG90dGVyeSBUZWFt?= <x@example.org>", "Hello", "."}
        << QStringList{u"blacklist"_s, u"lottery team"_s, u"decoded sender"_s};
    QTest::newRow("encoded display name on the whitelist saves a keyword match")
        << Message{"=?utf-8?Q?J=C3=BCrgen?= <j@example.org>", "Casino night", "."} << QStringList();
    QTest::newRow("encoded subject without any entry")
        << Message{"a@example.org", "=?utf-8?Q?Gr=C3=BC=C3=9Fe?=", "."} << QStringList();
}

void tst_ScanRules::decodedTextIsMatched()
{
    QFETCH(Message, message);
    QFETCH(QStringList, why);

    Fixture f;
    message.uid = "uid-1";
    f.control.addMailbox(u"u"_s, u"pw"_s, {message});
    Scan::HeadlessForm &form =
        f.open("mail.example,u,pw\r\n", "j\xc3\xbcrgen\r\n", "lottery team\r\n",
               "viagra\r\nlottery\r\ncasino\r\n\xd1\x81\xd0\xba\xd0\xb8\xd0\xb4\xd0\xba\xd0\xb0\r\n");
    f.setRules(Qt::Checked, Qt::Checked, Qt::Unchecked, Qt::Checked);
    Scan::MailboxScanner scanner(form);
    scanner.run();

    const QList<ReviewList::Message> rows = ReviewList(f.state()).all();
    QCOMPARE(rows.size(), why.isEmpty() ? 0 : 1);
    QCOMPARE(f.control.subjectsLeft(u"u"_s).size(), why.isEmpty() ? 1 : 0);
    if (!why.isEmpty())
        QCOMPARE((QStringList{rows.at(0).rule, rows.at(0).entry, rows.at(0).matchedIn}), why);
}

void tst_ScanRules::senderListsReportTheFirstEntry_data()
{
    QTest::addColumn<QByteArray>("whitelist");
    QTest::addColumn<QByteArray>("blacklist");
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QString>("appendAt");   // at this entry's caption "ccc" is added to the blacklist
    QTest::addColumn<QStringList>("checks"); // the "FROM is" captions, without "FROM is "
    QTest::addColumn<QStringList>("why");    // rule, entry as written, where; empty: kept

    const QString lottery = u"=?UTF-8?B?TG90DGVYESBUZWFT?= <"_s;
    QTest::newRow("first entry in list order, blank rows skipped")
        << QByteArray() << QByteArray("\r\nzzz\r\nexample.org\r\n \r\nspam.example.org\r\nx@\r\n")
        << QByteArray("x@spam.example.org") << QString()
        << QStringList{u"X@SPAM.EXAMPLE.ORG CHECKING FOR ZZZ"_s, u"X@SPAM.EXAMPLE.ORG CHECKING FOR EXAMPLE.ORG"_s}
        << QStringList{u"blacklist"_s, u"example.org"_s, u"sender"_s};
    QTest::newRow("raw sender before an earlier entry in the decoded one")
        << QByteArray() << QByteArray("lottery team\r\nads@\r\n")
        << QByteArray("=?utf-8?B?TG90dGVyeSBUZWFt?= <ads@x.org>") << QString()
        << QStringList{lottery + u"ADS@X.ORG> CHECKING FOR LOTTERY TEAM"_s, lottery + u"ADS@X.ORG> CHECKING FOR ADS@"_s}
        << QStringList{u"blacklist"_s, u"ads@"_s, u"sender"_s};
    QTest::newRow("decoded sender once no entry is in the raw one")
        << QByteArray() << QByteArray("lottery team\r\nnomatch\r\n")
        << QByteArray("=?utf-8?B?TG90dGVyeSBUZWFt?= <x@x.org>") << QString()
        << QStringList{lottery + u"X@X.ORG> CHECKING FOR LOTTERY TEAM"_s, lottery + u"X@X.ORG> CHECKING FOR NOMATCH"_s,
                       u"LOTTERY TEAM <X@X.ORG> CHECKING FOR LOTTERY TEAM"_s}
        << QStringList{u"blacklist"_s, u"lottery team"_s, u"decoded sender"_s};
    QTest::newRow("Unicode: sharp s is SS, Cyrillic in any case")
        << QByteArray() << QByteArray("\xd0\xb8\xd0\xb2\xd0\xb0\xd0\xbd\r\nstrasse\r\n")
        << QByteArray("Stra\xc3\x9f"
                      "enbau <info@bau.example>")
        << QString()
        << QStringList{u"STRASSENBAU <INFO@BAU.EXAMPLE> CHECKING FOR \u0418\u0412\u0410\u041d"_s,
                       u"STRASSENBAU <INFO@BAU.EXAMPLE> CHECKING FOR STRASSE"_s}
        << QStringList{u"blacklist"_s, u"strasse"_s, u"sender"_s};
    QTest::newRow("whitelist: its first entry, the blacklist not read")
        << QByteArray("\r\nfriend\r\nexample\r\n") << QByteArray("example\r\n") << QByteArray("friend@example.org")
        << QString() << QStringList{u"FRIEND@EXAMPLE.ORG CHECKING FOR FRIEND"_s} << QStringList();
    QTest::newRow("nothing listed: every entry, raw then decoded")
        << QByteArray("nobody\r\n") << QByteArray("aaa\r\n\t\r\nbbb\r\n")
        << QByteArray("=?utf-8?Q?Zo=C3=A9?= <z@z.example>") << QString()
        << QStringList{u"=?UTF-8?Q?ZO=C3=A9?= <Z@Z.EXAMPLE> CHECKING FOR NOBODY"_s,
                       u"ZO\u00c9 <Z@Z.EXAMPLE> CHECKING FOR NOBODY"_s,
                       u"=?UTF-8?Q?ZO=C3=A9?= <Z@Z.EXAMPLE> CHECKING FOR AAA"_s,
                       u"=?UTF-8?Q?ZO=C3=A9?= <Z@Z.EXAMPLE> CHECKING FOR BBB"_s,
                       u"ZO\u00c9 <Z@Z.EXAMPLE> CHECKING FOR AAA"_s,
                       u"ZO\u00c9 <Z@Z.EXAMPLE> CHECKING FOR BBB"_s}
        << QStringList();
    QTest::newRow("entry added while the list is walked")
        << QByteArray() << QByteArray("aaa\r\nbbb\r\n") << QByteArray("x@ccc.example") << u"AAA"_s
        << QStringList{u"X@CCC.EXAMPLE CHECKING FOR AAA"_s, u"X@CCC.EXAMPLE CHECKING FOR BBB"_s,
                       u"X@CCC.EXAMPLE CHECKING FOR CCC"_s}
        << QStringList{u"blacklist"_s, u"ccc"_s, u"sender"_s};
}

void tst_ScanRules::senderListsReportTheFirstEntry()
{
    QFETCH(QByteArray, whitelist);
    QFETCH(QByteArray, blacklist);
    QFETCH(QByteArray, from);
    QFETCH(QString, appendAt);
    QFETCH(QStringList, checks);
    QFETCH(QStringList, why);

    // With a listener every caption is written; without one the scan skips
    // to the last it would write, and must come to the same verdict.
    for (const bool listening : {true, false}) {
        if (!listening && !appendAt.isEmpty())
            break;
        Fixture f;
        Message message{from, "Hello", "."};
        message.uid = "uid-1";
        f.control.addMailbox(u"u"_s, u"pw"_s, {message});
        Scan::HeadlessForm &form = f.open("mail.example,u,pw\r\n", whitelist, blacklist, "");
        f.setRules(Qt::Checked, Qt::Checked, Qt::Unchecked, Qt::Unchecked);
        Scan::MailboxScanner scanner(form);
        if (listening) {
            bool appended = false;
            connect(&scanner, &Scan::MailboxScanner::captionWritten, this, [&](const QString &caption) {
                if (!appendAt.isEmpty() && !appended && caption.endsWith(u" CHECKING FOR "_s + appendAt)) {
                    form.gridblacklist()->appendRow({u"ccc"_s});
                    appended = true;
                }
            });
            QStringList fromCaptions;
            for (const QString &caption : run(scanner)) {
                if (caption.startsWith(u"FROM is "_s))
                    fromCaptions.append(caption.mid(8));
            }
            QCOMPARE(fromCaptions, checks);
        } else {
            scanner.run();
        }

        const QList<ReviewList::Message> rows = ReviewList(f.state()).all();
        QCOMPARE(rows.size(), why.isEmpty() ? 0 : 1);
        if (!why.isEmpty())
            QCOMPARE((QStringList{rows.at(0).rule, rows.at(0).entry, rows.at(0).matchedIn}), why);
        QCOMPARE(f.control.subjectsLeft(u"u"_s).size(), why.isEmpty() ? 1 : 0);
    }
}

void tst_ScanRules::learnedFilterJudgesLast_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<bool>("hamLearned"); // the filter has learned legitimate mail too
    QTest::addColumn<Message>("message");
    QTest::addColumn<QString>("rule");  // empty: not condemned
    QTest::addColumn<int>("spamAfter"); // spam the filter knows after the scan
    QTest::addColumn<bool>("kept");     // still on the server (held, when condemned)
    QTest::addColumn<bool>("unsure");   // listed as unsure rather than condemned

    // Six messages learned score under the default threshold: a lower one.
    const QByteArray on = "[LearnedFilter]\nenabled=true\nthreshold=0.9\n";
    // Above the spam-like message's score, which falls in the unsure band below it.
    const QByteArray band = "[LearnedFilter]\nenabled=true\nthreshold=0.99999999\n";
    const Message spammy{"x@example.net", "Cheap pills", "buy cheap pills online, discount pharmacy, click here"};
    const Message hammy{"y@example.net", "Project meeting", "agenda for the project meeting on tuesday"};
    const Message keyword{"z@example.net", "Casino", "buy cheap pills online"};
    const Message friendly{"pal@friend.example", "Cheap pills",
                           "buy cheap pills online, discount pharmacy, click here"};

    QTest::newRow("off unless switched on") << QByteArray() << true << spammy << QString() << 3 << true << false;
    // A score is a guess: the hold is off, yet the message stays for review.
    QTest::newRow("spam-like message condemned and held")
        << on << true << spammy << u"learned filter"_s << 3 << true << false;
    QTest::newRow("deleted when the user allows it") << on + "deleteCondemned=yes\n"
                                                     << true << spammy << u"learned filter"_s << 3 << false << false;
    QTest::newRow("an unreadable permission holds") << on + "deleteCondemned=perhaps\n"
                                                    << true << spammy << u"learned filter"_s << 3 << true << false;
    QTest::newRow("ham-like message under the unsure band kept, not listed")
        << on << true << hammy << QString() << 3 << true << false;
    QTest::newRow("in the unsure band: left on the server, listed, not learned")
        << band << true << spammy << u"learned filter"_s << 3 << true << true;
    QTest::newRow("in the band, checking each message once: listed once")
        << QByteArray("[Scan]\njudgeOnce=true\n") + band << true << spammy << u"learned filter"_s << 3 << true << true;
    QTest::newRow("no band while switched off") << QByteArray("[LearnedFilter]\nenabled=false\nthreshold=0.99999999\n")
                                                << true << spammy << QString() << 3 << true << false;
    QTest::newRow("the whitelist passes first, never unsure")
        << band << true << friendly << QString() << 3 << true << false;
    QTest::newRow("judges nothing before it knows both kinds")
        << on << false << spammy << QString() << 3 << true << false;
    QTest::newRow("the keyword rule decides first; its spam is learned")
        << on << true << keyword << u"keyword"_s << 4 << false << false;
    QTest::newRow("a held verdict is not learned before the user confirms it")
        << QByteArray("[Scan]\nholdForReview=true\n") + on << true << keyword << u"keyword"_s << 3 << true << false;
    QTest::newRow("nothing learned while switched off")
        << QByteArray() << true << keyword << u"keyword"_s << 3 << false << false;
}

void tst_ScanRules::learnedFilterJudgesLast()
{
    QFETCH(QByteArray, settings);
    QFETCH(bool, hamLearned);
    QFETCH(Message, message);
    QFETCH(QString, rule);
    QFETCH(int, spamAfter);
    QFETCH(bool, kept);
    QFETCH(bool, unsure);

    Fixture f;
    f.write(u"settings.ini"_s, settings);
    {
        Scan::LearnedFilter filter(f.state());
        QVERIFY(filter.open());
        QVERIFY(filter.learn(LearningExamples::small(hamLearned)));
    }
    f.control.addMailbox(u"u"_s, u"pw"_s, {message});
    Scan::HeadlessForm &form = f.open("mail.example,u,pw\r\n", "friend.example\r\n", "", "casino\r\n");
    f.setRules(Qt::Checked, Qt::Unchecked, Qt::Unchecked, Qt::Checked);
    Scan::MailboxScanner scanner(form);
    scanner.run();

    const QList<ReviewList::Message> rows = ReviewList(f.state()).all();
    QCOMPARE(rows.size(), rule.isEmpty() ? 0 : 1);
    if (!rule.isEmpty()) {
        QCOMPARE(rows.at(0).rule, rule);
        if (rule == u"learned filter"_s) {
            // The score against the band or the threshold, and the words that weighed most.
            AppSettings band(QFileInfo(f.file(u"settings.ini"_s)).path());
            band.load();
            const double score = rows.at(0).entry.toDouble();
            QVERIFY2(unsure ? score >= band.unsureThreshold && score <= band.learnedThreshold
                            : score > band.learnedThreshold,
                     qPrintable(rows.at(0).entry));
            QVERIFY2(rows.at(0).matchedIn.contains(u"pills"_s), qPrintable(rows.at(0).matchedIn));
        }
        QCOMPARE(rows.at(0).state, unsure ? ReviewList::State::Unsure
                                   : kept ? ReviewList::State::Held
                                          : ReviewList::State::Deleted);
        QCOMPARE(ReviewList(f.state()).unsureWords(rows.at(0).id).has_value(), unsure);
    }
    // Unsure is not spam: not archived, announced or counted.
    const bool spam = !rule.isEmpty() && !unsure;
    QCOMPARE(f.archive().size(), spam ? 1 : 0);
    QCOMPARE(f.boxes.size(), spam ? 1 : 0);
    QCOMPARE(scanner.results().constFirst().condemned, spam ? 1 : 0);
    QCOMPARE(f.control.subjectsLeft(u"u"_s).size(), kept ? 1 : 0);

    // The next scan lists nothing twice.
    Scan::MailboxScanner again(form);
    again.run();
    QCOMPARE(ReviewList(f.state()).all().size(), rows.size());
    QCOMPARE(f.control.subjectsLeft(u"u"_s).size(), kept ? 1 : 0);
    if (unsure) {
        // Read or deleted elsewhere: the row is no longer unsure, and its words go.
        f.control.removeMessage(u"u"_s, message.subject);
        Scan::MailboxScanner afterwards(form);
        afterwards.run();
        QCOMPARE(ReviewList(f.state()).byId(rows.at(0).id)->state, ReviewList::State::Gone);
        QVERIFY(!ReviewList(f.state()).unsureWords(rows.at(0).id).has_value());
    }
    Scan::LearnedFilter after(f.state());
    QVERIFY(after.open());
    QCOMPARE(int(after.spamMessages()), spamAfter);
}

void tst_ScanRules::anAddedRuleJudgesInItsPlace_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<Message>("message");
    QTest::addColumn<QString>("rule"); // empty: not condemned
    QTest::addColumn<int>("problems");

    const Message empty{"x@example.net", "", "no subject here"};
    QTest::newRow("off unless settings.ini says on") << QByteArray() << empty << QString() << 0;
    QTest::newRow("switched on in [Rules]")
        << QByteArray("[Rules]\nemptySubject=on\n") << empty << u"empty subject"_s << 0;
    QTest::newRow("an earlier rule decides first")
        << QByteArray("[Rules]\nemptySubject=on\n") << Message{"x@spam.example", "", "body"} << u"blacklist"_s << 0;
    QTest::newRow("a message it does not condemn")
        << QByteArray("[Rules]\nemptySubject=on\n") << Message{"x@example.net", "Hello", "body"} << QString() << 0;
    QTest::newRow("an unreadable switch is off and reported")
        << QByteArray("[Rules]\nemptySubject=perhaps\n") << empty << QString() << 1;
}

void tst_ScanRules::anAddedRuleJudgesInItsPlace()
{
    QFETCH(QByteArray, settings);
    QFETCH(Message, message);
    QFETCH(QString, rule);
    QFETCH(int, problems);

    Fixture f;
    f.write(u"settings.ini"_s, settings);
    f.control.addMailbox(u"u"_s, u"pw"_s, {message});
    Scan::HeadlessForm &form = f.open("mail.example,u,pw\r\n", "", "spam.example\r\n", "");
    Scan::Rules rules = Scan::ruleBook(form);
    rules.push_back(std::make_unique<EmptySubjectRule>());
    Scan::MailboxScanner scanner(form, std::move(rules));
    const QStringList captions = run(scanner);

    const QList<ReviewList::Message> rows = ReviewList(f.state()).all();
    QCOMPARE(rows.size(), rule.isEmpty() ? 0 : 1);
    if (!rule.isEmpty())
        QCOMPARE(rows.at(0).rule, rule);
    QCOMPARE(captions.contains(u"EMPTY SUBJECT"_s), rule == u"empty subject"_s);
    QCOMPARE(f.control.subjectsLeft(u"u"_s).size(), rule.isEmpty() ? 1 : 0);
    QCOMPARE(scanner.problems().size(), problems);
}

// "Check each message only once" judges every message again when what
// condemns changes, and only then.
void tst_ScanRules::rulesVersionFollowsWhatCondemns_data()
{
    using Inputs = QList<Scan::JudgeOnce::RuleInputs>;
    QTest::addColumn<Inputs>("before");
    QTest::addColumn<Inputs>("after");
    QTest::addColumn<bool>("same"); // the version stays

    // The rule book's rules as they describe themselves: lists with their
    // entries, the sender IP rule deciding nothing, keywords and the
    // learned filter off.
    const Inputs base{{u"whitelist"_s, QStringList{u"FRIEND@EXAMPLE.ORG"_s}},
                      {u"blacklist"_s, QStringList{u"AB"_s, u"C"_s}},
                      {u"sender IP"_s, std::nullopt},
                      {u"keyword"_s, std::nullopt},
                      {u"learned filter"_s, std::nullopt}};
    const auto with = [&base](const std::function<void(Inputs &)> &change) {
        Inputs rules = base;
        change(rules);
        return rules;
    };
    const Inputs judging = with([](Inputs &r) { r[4].inputs = QStringList{u"0.95"_s}; });
    QTest::newRow("nothing changed") << base << base << true;
    QTest::newRow("an entry edited") << base << with([](Inputs &r) {
        r[1].inputs = QStringList{u"AB"_s, u"D"_s};
    }) << false;
    QTest::newRow("the same letters, other entries") << base << with([](Inputs &r) {
        r[1].inputs = QStringList{u"A"_s, u"BC"_s};
    }) << false;
    QTest::newRow("an entry moved to the other list") << base << with([](Inputs &r) {
        r[0].inputs->append(u"C"_s);
        r[1].inputs = QStringList{u"AB"_s};
    }) << false;
    QTest::newRow("a rule switched on") << base << with([](Inputs &r) { r[3].inputs = QStringList{u"CASINO"_s}; })
                                        << false;
    QTest::newRow("a list switched on while empty")
        << base << with([](Inputs &r) { r[3].inputs = QStringList(); }) << false;
    QTest::newRow("the learned filter starts judging") << base << judging << false;
    QTest::newRow("the threshold of a judging filter")
        << judging << with([](Inputs &r) { r[4].inputs = QStringList{u"0.9"_s}; }) << false;
    QTest::newRow("a rule added") << base << with([](Inputs &r) {
        r.append({u"empty subject"_s, QStringList()});
    }) << false;
    QTest::newRow("the same rules in another order") << base << with([](Inputs &r) { r.swapItemsAt(0, 1); }) << false;
}

void tst_ScanRules::rulesVersionFollowsWhatCondemns()
{
    using Inputs = QList<Scan::JudgeOnce::RuleInputs>;
    QFETCH(Inputs, before);
    QFETCH(Inputs, after);
    QFETCH(bool, same);
    QCOMPARE(Scan::JudgeOnce::version(after) == Scan::JudgeOnce::version(before), same);
}

QTEST_MAIN(tst_ScanRules)
#include "tst_scanrules.moc"
