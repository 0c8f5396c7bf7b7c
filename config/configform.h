#pragma once
// What the list, settings and editing procedures need of the main window:
// its controls and a few calls. The main window implements it; tests may too.

#include <QString>

class ListTable;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QTableView;
class QWidget;

class ConfigForm
{
public:
    virtual ~ConfigForm() = default;

    virtual QString programFolder() const = 0;
    virtual QWidget *formWidget() = 0; // parent of dialogs and message boxes

    virtual ListTable *gridAccounts() const = 0;
    virtual ListTable *gridwhitelist() const = 0;
    virtual ListTable *gridblacklist() const = 0;
    virtual ListTable *gridkeywords() const = 0;
    virtual QTableView *gridAccountsView() const = 0;
    virtual QTableView *gridwhitelistView() const = 0;
    virtual QTableView *gridblacklistView() const = 0;
    virtual QTableView *gridkeywordsView() const = 0;

    virtual QLineEdit *txtAccountsCount() const = 0;
    virtual QLineEdit *txtwhitelistCount() const = 0;
    virtual QLineEdit *txtblacklistCount() const = 0;
    virtual QLineEdit *txtkeywordsCount() const = 0;
    virtual QLineEdit *txtEmailsBlockedCount() const = 0;
    virtual QLineEdit *txttotalemailsever() const = 0;

    virtual QCheckBox *checkautoscan() const = 0;
    virtual QCheckBox *checkwhitelist() const = 0;
    virtual QCheckBox *checkblacklist() const = 0;
    virtual QCheckBox *checkspamcop() const = 0;
    virtual QCheckBox *checkkeywords() const = 0;
    virtual QComboBox *combominutes() const = 0;

    // Brings the first tab (Accounts) to the front.
    virtual void showAccountsTab() = 0;
    // The progress window: shown without blocking, message set, hidden.
    virtual void showSplash() = 0;
    virtual void setSplashMessage(const QString &message) = 0;
    virtual void hideSplash() = 0;
    // The status line, where the window has one.
    virtual void setStatusText(const QString &text) { (void)text; }
};
