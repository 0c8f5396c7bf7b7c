#pragma once
// A bare window holding the controls the list and settings procedures use,
// so they can be tested without the main window.

#include "config/widgets/configwindow.h"

#include <QStringList>
#include <QWidget>

class ListGridView;
class QCheckBox;
class QLineEdit;

class TestForm final : public QWidget, public ConfigWindow
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
    QLineEdit *txtAccountsCount() const { return m_boxes[0]; }
    QLineEdit *txtwhitelistCount() const { return m_boxes[1]; }
    QLineEdit *txtblacklistCount() const { return m_boxes[2]; }
    QLineEdit *txtkeywordsCount() const { return m_boxes[3]; }
    QLineEdit *txtEmailsBlockedCount() const { return m_boxes[4]; }
    QLineEdit *txttotalemailsever() const { return m_boxes[5]; }
    QCheckBox *checkautoscan() const { return m_checks[0]; }
    QCheckBox *checkwhitelist() const { return m_checks[1]; }
    QCheckBox *checkblacklist() const { return m_checks[2]; }
    QCheckBox *checkspamcop() const { return m_checks[3]; }
    QCheckBox *checkkeywords() const { return m_checks[4]; }
    QComboBox *combominutes() const override { return m_minutes; }
    QString boxText(FormBox box) const override;
    void setBoxText(FormBox box, const QString &text) override;
    int switchValue(FormSwitch which) const override;
    void setSwitchValue(FormSwitch which, int value) override;
    QString minutes() const override;
    void setMinutes(const QString &text) override;
    void suspendGrid(ListKind kind) override;
    void showGrids() override;
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
