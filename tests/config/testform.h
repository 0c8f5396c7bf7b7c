#pragma once
// A bare window holding the controls the list and settings procedures use,
// so they can be tested without the main window.

#include "config/configform.h"

#include <QStringList>
#include <QWidget>

class ListGridView;

class TestForm final : public QWidget, public ConfigForm
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TestForm)

public:
    explicit TestForm(const QString &folder);

    QString programFolder() const override { return m_folder; }
    QWidget *formWidget() override { return this; }
    ListTable *gridAccounts() const override { return m_tables[0]; }
    ListTable *gridwhitelist() const override { return m_tables[1]; }
    ListTable *gridblacklist() const override { return m_tables[2]; }
    ListTable *gridkeywords() const override { return m_tables[3]; }
    QTableView *gridAccountsView() const override;
    QTableView *gridwhitelistView() const override;
    QTableView *gridblacklistView() const override;
    QTableView *gridkeywordsView() const override;
    QLineEdit *txtAccountsCount() const override { return m_boxes[0]; }
    QLineEdit *txtwhitelistCount() const override { return m_boxes[1]; }
    QLineEdit *txtblacklistCount() const override { return m_boxes[2]; }
    QLineEdit *txtkeywordsCount() const override { return m_boxes[3]; }
    QLineEdit *txtEmailsBlockedCount() const override { return m_boxes[4]; }
    QLineEdit *txttotalemailsever() const override { return m_boxes[5]; }
    QCheckBox *checkautoscan() const override { return m_checks[0]; }
    QCheckBox *checkwhitelist() const override { return m_checks[1]; }
    QCheckBox *checkblacklist() const override { return m_checks[2]; }
    QCheckBox *checkspamcop() const override { return m_checks[3]; }
    QCheckBox *checkkeywords() const override { return m_checks[4]; }
    QComboBox *combominutes() const override { return m_minutes; }
    void showAccountsTab() override { ++accountsTabShown; }
    void showSplash() override { splashVisible = true; }
    void setSplashMessage(const QString &message) override { splashMessages.append(message); }
    void hideSplash() override { splashVisible = false; }

    QStringList splashMessages;
    bool splashVisible = false;
    int accountsTabShown = 0;

private:
    QString m_folder;
    ListTable *m_tables[4] = {};
    ListGridView *m_views[4] = {};
    QLineEdit *m_boxes[6] = {};
    QCheckBox *m_checks[5] = {};
    QComboBox *m_minutes = nullptr;
};
