// Adding and deleting rows as a user does it through the main window: the
// dialogs' checks, the exact messages, and what reaches the tables.

#include "config/listtable.h"
#include "config/widgets/frmaddaccount.h"
#include "config/widgets/frmaddblacklist.h"
#include "config/widgets/frmaddkeywords.h"
#include "config/widgets/frmaddwhitelist.h"
#include "config/widgets/listgridview.h"
#include "config/widgets/savereminder.h"
#include "platform/messagebox/messagebox.h"
#include "tests/ui/uitestsupport.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

namespace {

const QString reminder = u"\r\nBe sure to click Save Settings when you are finished."_s;

void openEntryDialog(frmMain &form, ListKind kind)
{
    switch (kind) {
    case ListKind::Whitelist: UiTest::click(form, u"cmdAddWhitelist"_s); break;
    case ListKind::Blacklist: UiTest::click(form, u"cmdAddBlacklist"_s); break;
    case ListKind::Keywords: UiTest::click(form, u"cmdAddkeywords"_s); break;
    case ListKind::Accounts: UiTest::click(form, u"cmdAddAccount"_s); break;
    }
}

// Where each list lives on the window, written out here rather than taken
// from the program, so a wrong mapping there shows up as a failure.
struct ListWidgets
{
    ListTable *(frmMain::*table)() const;
    QLineEdit *(frmMain::*count)() const;
    QTableView *(frmMain::*view)() const;
};

const ListWidgets &widgetsOf(ListKind kind)
{
    static const ListWidgets lists[] = {
        {&frmMain::gridAccounts, &frmMain::txtAccountsCount, &frmMain::gridAccountsView},
        {&frmMain::gridwhitelist, &frmMain::txtwhitelistCount, &frmMain::gridwhitelistView},
        {&frmMain::gridblacklist, &frmMain::txtblacklistCount, &frmMain::gridblacklistView},
        {&frmMain::gridkeywords, &frmMain::txtkeywordsCount, &frmMain::gridkeywordsView},
    };
    return lists[int(kind)];
}

ListTable *tableOf(frmMain &form, ListKind kind) { return (form.*widgetsOf(kind).table)(); }

QLineEdit *countOf(frmMain &form, ListKind kind) { return (form.*widgetsOf(kind).count)(); }

ListGridView *viewOf(frmMain &form, ListKind kind)
{
    return qobject_cast<ListGridView *>((form.*widgetsOf(kind).view)());
}

} // namespace

Q_DECLARE_METATYPE(ListKind)

class tst_ListEditing : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void addAccount_data();
    void addAccount();
    void accountDialogClearsOnOpenAndCancel();
    void addEntry_data();
    void addEntry();
    void cancelledEntryKeepsText();
    void sameEntryTwiceGivesTwoRows();
    void deleteRow_data();
    void deleteRow();
    void dialogsAreCreatedOnce();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<frmMain> m_form;
};

void tst_ListEditing::init()
{
    MessageBox::setTestMode(true);
    SaveReminder::resetSession();
    m_form.reset();
    m_dir = std::make_unique<QTemporaryDir>();
    // One saved account, so the start does not open the account dialog.
    UiTest::writeBytes(m_dir->filePath(u"accounts.dat"_s), "mail.example.org,alice,pw\r\n");
    UiTest::writeBytes(m_dir->filePath(u"whitelist.dat"_s), "a@x.example\r\nb@x.example\r\nc@x.example\r\n");
    UiTest::writeBytes(m_dir->filePath(u"blacklist.dat"_s), "s1.example\r\ns2.example\r\ns3.example\r\n");
    UiTest::writeBytes(m_dir->filePath(u"keywords.dat"_s), "free\r\nwin\r\nprize\r\n");
    m_form = std::make_unique<frmMain>(m_dir->path());
    m_form->setTrayAvailabilityCheck([] { return true; });
    m_form->runLoadSequence();
    MessageBox::clearRecords();
}

void tst_ListEditing::addAccount_data()
{
    // "add" clicks Add; "edit" selects row 1 and clicks Edit…; "double-click" double-clicks row 1.
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("login");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("added"); // taken: a new row, or row 1 replaced

    const QString inputError = u"Data input error."_s;
    QTest::newRow("all empty") << u"add"_s << QString() << QString() << QString()
                               << u"Please provide a mail server.\r\nPlease provide a login name.\r\n"
                                  u"Please provide a password.\r\n"_s
                               << inputError << false;
    QTest::newRow("password missing") << u"add"_s << u"pop.example.net"_s << u"bob"_s << QString()
                                      << u"Please provide a password.\r\n"_s << inputError << false;
    QTest::newRow("server missing") << u"add"_s << QString() << u"bob"_s << u"pw"_s
                                    << u"Please provide a mail server.\r\n"_s << inputError << false;
    QTest::newRow("comma in server") << u"add"_s << u"pop.example,net"_s << u"bob"_s << u"pw"_s
                                     << u"The mail server cannot contain a comma.\r\n"_s << inputError << false;
    QTest::newRow("comma in login") << u"add"_s << u"pop.example.net"_s << u"bob,smith"_s << u"pw"_s
                                    << u"The login name cannot contain a comma.\r\n"_s << inputError << false;
    QTest::newRow("complete") << u"add"_s << u"pop.example.net"_s << u"bob"_s << u"pw"_s
                              << u"The account has been added."_s + reminder << u"Account added."_s << true;
    QTest::newRow("commas in password, 4-character server")
        << u"add"_s << u"abcd"_s << u" bob "_s << u"p,w,,"_s << u"The account has been added."_s + reminder
        << u"Account added."_s << true;
    // The loader counts UTF-16 code units: two such characters make four.
    QTest::newRow("server of two astral characters")
        << u"add"_s << u"\U0001D4B6\U0001D4B7"_s << u"bob"_s << u"pw"_s << u"The account has been added."_s + reminder
        << u"Account added."_s << true;
    QTest::newRow("3-character server") << u"add"_s << u"abc"_s << u"bob"_s << u"pw"_s
                                        << u"The mail server must have at least 4 characters.\r\n"_s << inputError
                                        << false;
    QTest::newRow("line break in password") << u"add"_s << u"pop.example.net"_s << u"bob"_s << u"p\nw"_s
                                            << u"The mail server, login name and password cannot contain line "
                                               u"breaks.\r\n"_s
                                            << inputError << false;
    const QString changed = u"The account has been changed."_s + reminder;
    QTest::newRow("same server and login, other case")
        << u"add"_s << u"MAIL.example.org"_s << u"alice"_s << u"pw2"_s
        << u"The account MAIL.example.org (alice) is already in the list (row 1). Select it and click Edit to "
           u"change it.\r\n"_s
        << inputError << false;
    QTest::newRow("same server, other login")
        << u"add"_s << u"mail.example.org"_s << u"Alice"_s << u"pw2"_s << u"The account has been added."_s + reminder
        << u"Account added."_s << true;
    QTest::newRow("edit: new password") << u"edit"_s << u"mail.example.org"_s << u"alice"_s << u"new pw"_s << changed
                                        << u"Account changed."_s << true;
    QTest::newRow("double-click: new server") << u"double-click"_s << u"pop3s://pop.example.net"_s << u"alice"_s
                                              << u"pw"_s << changed << u"Account changed."_s << true;
    QTest::newRow("edit: password emptied") << u"edit"_s << u"mail.example.org"_s << u"alice"_s << QString()
                                            << u"Please provide a password.\r\n"_s << inputError << false;
}

void tst_ListEditing::addAccount()
{
    QFETCH(QString, how);
    QFETCH(QString, server);
    QFETCH(QString, login);
    QFETCH(QString, password);
    QFETCH(QString, message);
    QFETCH(QString, title);
    QFETCH(bool, added);

    frmMain &form = *m_form;
    frmAddAccount *dialog = nullptr;
    bool stillOpen = false;
    bool focusOnServer = false;
    QStringList boxesAfter;
    QStringList boxesOnOpen;
    const QStringList saved = form.gridAccounts()->rowCells(1);
    auto ran = UiTest::whenShown<frmAddAccount>(form, [&](frmAddAccount *shown) {
        dialog = shown;
        focusOnServer = dialog->focusWidget() == dialog->txtAddMailServer();
        boxesOnOpen = {dialog->txtAddMailServer()->text(), dialog->txtAddLoginName()->text(),
                       dialog->txtAddPassword()->text()};
        dialog->txtAddMailServer()->setText(server);
        dialog->txtAddLoginName()->setText(login);
        dialog->txtAddPassword()->setText(password);
        QTest::mouseClick(dialog->cmdAddAccountInfo(), Qt::LeftButton);
        stillOpen = dialog->isVisible();
        boxesAfter = {dialog->txtAddMailServer()->text(), dialog->txtAddLoginName()->text(),
                      dialog->txtAddPassword()->text()};
        if (stillOpen)
            dialog->cmdCancelAccountInfo()->click();
    });
    const QModelIndex first = form.gridAccountsView()->model()->index(0, 0);
    if (how == u"add"_s) {
        UiTest::click(form, u"cmdAddAccount"_s);
    } else if (how == u"edit"_s) {
        form.gridAccountsView()->setCurrentIndex(first);
        UiTest::click(form, u"cmdEditAccount"_s);
    } else {
        Q_EMIT form.gridAccountsView()->doubleClicked(first);
    }
    QVERIFY(*ran);
    QVERIFY(focusOnServer);
    const bool editing = how != u"add"_s;
    // Editing opens with the row as it is, password included (the grid only masks it).
    QCOMPARE(boxesOnOpen, editing ? saved : (QStringList{QString(), QString(), QString()}));
    QCOMPARE(dialog->txtAddPassword()->echoMode(), QLineEdit::Password);

    const QList<MessageBox::Record> records = MessageBox::records();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().text, message);
    QCOMPARE(records.first().title, title);
    QCOMPARE(records.first().buttons, MessageBox::OkOnly);
    QCOMPARE(stillOpen, !added);
    // Refused input stays as typed; accepted input stays until the next opening.
    QCOMPARE(boxesAfter, (QStringList{server, login, password}));
    const bool appended = added && !editing;
    const QStringList typed{server, login, password};
    QCOMPARE(form.gridAccounts()->rowCountValue(), appended ? 2 : 1);
    QCOMPARE(form.txtAccountsCount()->text(), appended ? u"2"_s : u"1"_s);
    QCOMPARE(form.gridAccounts()->rowCells(1), added && editing ? typed : saved);
    if (appended)
        QCOMPARE(form.gridAccounts()->rowCells(2), typed);
    QVERIFY(form.gridAccountsView()->updatesEnabled());

    // An account the dialog takes survives Save Settings and the next start.
    UiTest::click(form, u"cmdupdateconfig"_s);
    UiTest::click(form, u"cmdreloadconfig"_s);
    QCOMPARE(form.gridAccounts()->rowCountValue(), appended ? 2 : 1);
    QCOMPARE(form.gridAccounts()->rowCells(1), added && editing ? typed : saved);
    if (appended)
        QCOMPARE(form.gridAccounts()->rowCells(2), typed);
}

void tst_ListEditing::accountDialogClearsOnOpenAndCancel()
{
    frmMain &form = *m_form;
    frmAddAccount *dialog = nullptr;
    QStringList onOpen;
    auto first = UiTest::whenShown<frmAddAccount>(form, [&](frmAddAccount *shown) {
        dialog = shown;
        dialog->txtAddMailServer()->setText(u"typed.example"_s);
        dialog->txtAddLoginName()->setText(u"me"_s);
        QTest::mouseClick(dialog->cmdCancelAccountInfo(), Qt::LeftButton);
    });
    UiTest::click(form, u"cmdAddAccount"_s);
    QVERIFY(*first);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->txtAddMailServer()->text(), QString());
    QCOMPARE(form.gridAccounts()->rowCountValue(), 1);
    QVERIFY(MessageBox::records().isEmpty());

    // Text left after an accepted add is gone at the next opening.
    dialog->txtAddMailServer()->setText(u"left.example"_s);
    auto second = UiTest::whenShown<frmAddAccount>(form, [&](frmAddAccount *) {
        onOpen = {dialog->txtAddMailServer()->text(), dialog->txtAddLoginName()->text(),
                  dialog->txtAddPassword()->text()};
        dialog->reject();
    });
    UiTest::click(form, u"cmdAddAccount"_s);
    QVERIFY(*second);
    QCOMPARE(onOpen, (QStringList{QString(), QString(), QString()}));
}

void tst_ListEditing::addEntry_data()
{
    QTest::addColumn<ListKind>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("added");

    const QString appTitle = u"Quellmail"_s;
    QTest::newRow("whitelist 3 characters")
        << ListKind::Whitelist << u"a@b"_s << u"Please enter an email address to add to the whitelist."_s << appTitle
        << false;
    QTest::newRow("whitelist 4 characters")
        << ListKind::Whitelist << u"a@bc"_s << u"The email address has been added to the whitelist."_s + reminder
        << u"Account added."_s << true;
    QTest::newRow("blacklist empty") << ListKind::Blacklist << QString()
                                     << u"Please enter an email address to add to the blacklist."_s << appTitle
                                     << false;
    QTest::newRow("blacklist domain") << ListKind::Blacklist << u"spam.example"_s
                                      << u"The email address has been added to the blacklist."_s + reminder
                                      << u"Account added."_s << true;
    QTest::newRow("keyword empty") << ListKind::Keywords << QString() << u"Please enter a keyword or phrase to block."_s
                                   << appTitle << false;
    QTest::newRow("keyword 1 character") << ListKind::Keywords << u"V"_s
                                         << u"The keyword has been added to the banned list."_s + reminder
                                         << u"Keyword banned."_s << true;
    QTest::newRow("keyword phrase with blanks")
        << ListKind::Keywords << u" act now "_s << u"The keyword has been added to the banned list."_s + reminder
        << u"Keyword banned."_s << true;
}

void tst_ListEditing::addEntry()
{
    QFETCH(ListKind, kind);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(QString, title);
    QFETCH(bool, added);

    frmMain &form = *m_form;
    bool stillOpen = false;
    QString boxAfter = u"<unset>"_s;
    auto ran = UiTest::whenShown<AddEntryDialog>(form, [&](AddEntryDialog *dialog) {
        dialog->entryBox()->setText(text);
        QTest::mouseClick(dialog->addButton(), Qt::LeftButton);
        stillOpen = dialog->isVisible();
        boxAfter = dialog->entryBox()->text();
        if (stillOpen)
            QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    });
    openEntryDialog(form, kind);
    QVERIFY(*ran);
    const QList<MessageBox::Record> records = MessageBox::records();
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.first().text, message);
    QCOMPARE(records.first().title, title);
    QCOMPARE(records.first().buttons, MessageBox::OkOnly);
    QCOMPARE(stillOpen, !added);
    QCOMPARE(boxAfter, QString()); // emptied after every Add
    QCOMPARE(tableOf(form, kind)->rowCountValue(), added ? 4 : 3);
    QCOMPARE(countOf(form, kind)->text(), added ? u"4"_s : u"3"_s);
    if (added)
        QCOMPARE(tableOf(form, kind)->cell(4, 1), text);
}

void tst_ListEditing::cancelledEntryKeepsText()
{
    frmMain &form = *m_form;
    auto first = UiTest::whenShown<frmAddWhitelist>(form, [](frmAddWhitelist *dialog) {
        dialog->entryBox()->setText(u"half-typed"_s);
        dialog->reject();
    });
    UiTest::click(form, u"cmdAddWhitelist"_s);
    QVERIFY(*first);
    QString onOpen;
    auto second = UiTest::whenShown<frmAddWhitelist>(form, [&](frmAddWhitelist *dialog) {
        onOpen = dialog->entryBox()->text();
        QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
    });
    UiTest::click(form, u"cmdAddWhitelist"_s);
    QVERIFY(*second);
    QCOMPARE(onOpen, u"half-typed"_s);
    QCOMPARE(form.gridwhitelist()->rowCountValue(), 3);
    QVERIFY(MessageBox::records().isEmpty());
}

void tst_ListEditing::sameEntryTwiceGivesTwoRows()
{
    frmMain &form = *m_form;
    for (int i = 0; i < 2; ++i) {
        auto ran = UiTest::whenShown<frmAddblacklist>(form, [](frmAddblacklist *dialog) {
            dialog->entryBox()->setText(u"twice.example"_s);
            dialog->addButton()->click();
        });
        UiTest::click(form, u"cmdAddBlacklist"_s);
        QVERIFY(*ran);
    }
    QCOMPARE(form.gridblacklist()->rowCountValue(), 5);
    QCOMPARE(form.gridblacklist()->cell(4, 1), u"twice.example"_s);
    QCOMPARE(form.gridblacklist()->cell(5, 1), u"twice.example"_s);
    QCOMPARE(form.txtblacklistCount()->text(), u"5"_s);
    // One "Be sure to click Save Settings" box per session; the second add says it in the status line.
    QCOMPARE(MessageBox::records().size(), 1);
    QVERIFY(MessageBox::records().first().text.endsWith(reminder));
    QCOMPARE(form.Label17()->text(),
             u"The email address has been added to the blacklist. Not saved yet: click Save Settings."_s);
}

void tst_ListEditing::deleteRow_data()
{
    // "button", "Delete key", or "button, reminded" (a change earlier in the session gave the reminder)
    QTest::addColumn<QString>("how");
    QTest::addColumn<ListKind>("kind");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QStringList>("remaining");
    QTest::addColumn<QStringList>("messages"); // text|title of each box, in order

    const QString button = u"button"_s;
    const QStringList whiteRows{u"a@x.example"_s, u"b@x.example"_s, u"c@x.example"_s};
    const QString addressQuestion =
        u"Are you sure you want to delete the selected email address?|Delete email address."_s;
    const QString addressNotice =
        u"The selected email address has been deleted."_s + reminder + u"|Email address deleted."_s;

    QTest::newRow("account, yes")
        << button << ListKind::Accounts << 1 << int(MessageBox::Yes) << QStringList()
        << QStringList{u"Are you sure you want to delete the selected account?|Delete account."_s,
                       u"The selected account has been deleted."_s + reminder + u"|Account deleted."_s};
    QTest::newRow("account, no") << button << ListKind::Accounts << 1 << int(MessageBox::No)
                                 << QStringList{u"mail.example.org"_s}
                                 << QStringList{
                                        u"Are you sure you want to delete the selected account?|Delete account."_s};
    QTest::newRow("whitelist middle, yes")
        << button << ListKind::Whitelist << 2 << int(MessageBox::Yes) << QStringList{u"a@x.example"_s, u"c@x.example"_s}
        << QStringList{addressQuestion, addressNotice};
    QTest::newRow("whitelist, no") << button << ListKind::Whitelist << 3 << int(MessageBox::No) << whiteRows
                                   << QStringList{addressQuestion};
    QTest::newRow("whitelist, nothing selected")
        << button << ListKind::Whitelist << 0 << int(MessageBox::Yes) << whiteRows << QStringList();
    QTest::newRow("blacklist last, yes") << button << ListKind::Blacklist << 3 << int(MessageBox::Yes)
                                         << QStringList{u"s1.example"_s, u"s2.example"_s}
                                         << QStringList{addressQuestion, addressNotice};
    QTest::newRow("blacklist, nothing selected")
        << button << ListKind::Blacklist << 0 << int(MessageBox::Yes)
        << QStringList{u"s1.example"_s, u"s2.example"_s, u"s3.example"_s} << QStringList();
    QTest::newRow("keyword first, yes")
        << button << ListKind::Keywords << 1 << int(MessageBox::Yes) << QStringList{u"win"_s, u"prize"_s}
        << QStringList{u"Are you sure you want to delete the selected keyword?|Delete keyword."_s,
                       u"The selected keyword has been deleted."_s + reminder + u"|Keyword deleted."_s};
    QTest::newRow("keyword, nothing selected") << button << ListKind::Keywords << 0 << int(MessageBox::Yes)
                                               << QStringList{u"free"_s, u"win"_s, u"prize"_s} << QStringList();
    QTest::newRow("whitelist middle, Delete key")
        << u"Delete key"_s << ListKind::Whitelist << 2 << int(MessageBox::Yes)
        << QStringList{u"a@x.example"_s, u"c@x.example"_s} << QStringList{addressQuestion, addressNotice};
    QTest::newRow("keyword first, Delete key, no") << u"Delete key"_s << ListKind::Keywords << 1 << int(MessageBox::No)
                                                   << QStringList{u"free"_s, u"win"_s, u"prize"_s}
                                                   << QStringList{u"Are you sure you want to delete the selected "
                                                                  "keyword?|Delete keyword."_s};
    // One reminder box per session: later deletions say it in the status line.
    QTest::newRow("keyword first, yes, reminded")
        << u"button, reminded"_s << ListKind::Keywords << 1 << int(MessageBox::Yes) << QStringList{u"win"_s, u"prize"_s}
        << QStringList{u"Are you sure you want to delete the selected keyword?|Delete keyword."_s};
}

void tst_ListEditing::deleteRow()
{
    QFETCH(QString, how);
    QFETCH(ListKind, kind);
    QFETCH(int, selected);
    QFETCH(int, answer);
    QFETCH(QStringList, remaining);
    QFETCH(QStringList, messages);

    frmMain &form = *m_form;
    const QString countBefore = countOf(form, kind)->text();
    const int rowsBefore = tableOf(form, kind)->rowCountValue();
    viewOf(form, kind)->selectListRow(selected);
    QCOMPARE(viewOf(form, kind)->selectedRow(), selected);
    if (how.endsWith(u"reminded"_s)) {
        SaveReminder::tell(form, &form, u"An earlier change."_s, QString());
        MessageBox::clearRecords();
    }
    MessageBox::queueAnswer(MessageBox::Button(answer));
    if (how == u"Delete key"_s) {
        form.show();
        QApplication::setActiveWindow(&form);
        QVERIFY(QTest::qWaitForWindowActive(&form));
        UiTest::SSTab1(form)->setCurrentIndex(int(kind));
        viewOf(form, kind)->setFocus();
        QTest::keyClick(viewOf(form, kind), Qt::Key_Delete);
    } else
        switch (kind) {
        case ListKind::Accounts: UiTest::click(form, u"cmdDeleteAccount"_s); break;
        case ListKind::Whitelist: UiTest::click(form, u"cmdeletewhitelist"_s); break;
        case ListKind::Blacklist: UiTest::click(form, u"cmddeleteblacklist"_s); break;
        case ListKind::Keywords: UiTest::click(form, u"cmddeletekeyword"_s); break;
        }
    QStringList shown;
    for (const MessageBox::Record &record : MessageBox::records())
        shown.append(record.text + u'|' + record.title);
    QCOMPARE(shown, messages);
    if (!messages.isEmpty())
        QCOMPARE(MessageBox::records().first().buttons, MessageBox::YesNo);
    QStringList rows;
    for (int row = 1; row <= tableOf(form, kind)->rowCountValue(); ++row)
        rows.append(tableOf(form, kind)->cell(row, 1));
    QCOMPARE(rows, remaining);
    const bool removed = remaining.size() < rowsBefore;
    QCOMPARE(countOf(form, kind)->text(), removed ? QString::number(remaining.size()) : countBefore);
    if (removed && how.endsWith(u"reminded"_s))
        QVERIFY2(form.Label17()->text().endsWith(u"deleted. Not saved yet: click Save Settings."_s),
                 qPrintable(form.Label17()->text()));
}

void tst_ListEditing::dialogsAreCreatedOnce()
{
    frmMain &form = *m_form;
    QList<QPointer<QDialog>> shown;
    QStringList titles;
    const auto cancel = [&](QDialog *dialog) {
        shown.append(dialog);
        titles.append(dialog->windowTitle());
        dialog->reject();
    };
    for (const QString &button : {u"cmdAddkeywords"_s, u"cmdAddkeywords"_s, u"cmdAddWhitelist"_s, u"cmdAddAccount"_s}) {
        auto ran = UiTest::whenShown<QDialog>(form, cancel);
        UiTest::click(form, button);
        QVERIFY2(*ran, qPrintable(button));
    }
    QVERIFY(shown.at(0));
    QCOMPARE(shown.at(1), shown.at(0));
    QCOMPARE(form.findChildren<frmAddkeywords *>().size(), 1);
    QCOMPARE(titles, (QStringList{u"Add a keyword or phrase"_s, u"Add a keyword or phrase"_s, u"Add an email address"_s,
                                  u" Add email account"_s}));
}

QTEST_MAIN(tst_ListEditing)
#include "tst_listediting.moc"
