#pragma once
// A form without a window: the lists, settings and totals of a program
// folder in controls that are never shown, and the hosted control. The
// command-line scan runs on it; tests run the scan on it too.

#include "pop3/host/tarnpostsite.h"
#include "scan/scanform.h"

#include <QWidget>

namespace Scan {

class HeadlessForm final : public QWidget, public ScanForm
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HeadlessForm)

public:
    explicit HeadlessForm(const QString &programFolder, QWidget *parent = nullptr);
    ~HeadlessForm() override;

    // Creates the control from the library in `libraryFolder`; false with its error.
    bool createControl(const QString &libraryFolder, QString *error = nullptr);
    // Reads stats.dat and the four lists the way the window's load sequence
    // does. Every setting the scan obeys must be read here as the window
    // reads it (a review hold instead of deletion, once there is one), so
    // both scan the same way.
    void load();

    QString programFolder() const override { return m_folder; }
    QWidget *formWidget() override { return this; }
    ListTable *gridAccounts() const override { return m_tables[0]; }
    ListTable *gridwhitelist() const override { return m_tables[1]; }
    ListTable *gridblacklist() const override { return m_tables[2]; }
    ListTable *gridkeywords() const override { return m_tables[3]; }
    // No grids are shown.
    QTableView *gridAccountsView() const override { return nullptr; }
    QTableView *gridwhitelistView() const override { return nullptr; }
    QTableView *gridblacklistView() const override { return nullptr; }
    QTableView *gridkeywordsView() const override { return nullptr; }
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
    void showAccountsTab() override {}
    void showSplash() override {}
    void setSplashMessage(const QString &) override {}
    void hideSplash() override {}

    QLabel *Label17() const override { return m_status; }
    bool ruleOn(const QString &box) const override;
    Automation::TarnpostProxy &Tarnpost1() override { return m_control.proxy(); }
    // Adds this scan's totals to stats.dat as it stands now, under the scan
    // lock; its other lines are left as the window saved them.
    void writeStatistics() override;
    // Never waits: the text goes to whoever listens to spamAnnounced.
    void announceSpam(const QString &text) override;
    void announceSummary(const QString &text) override { Q_EMIT summaryAnnounced(text); }
    void notify(const QString &text) override { Q_EMIT notified(text); }
    // A command-line scan runs to its end.
    bool isEnding() const override { return false; }

    // Whether the last writeStatistics() put the new file in place, and why not.
    bool statisticsWritten() const { return m_statisticsWritten; }
    QString statisticsError() const { return m_statisticsError; }

Q_SIGNALS:
    void spamAnnounced(const QString &text);
    void summaryAnnounced(const QString &text);
    void notified(const QString &text);

private:
    QString m_folder;
    ListTable *m_tables[4] = {};
    QLineEdit *m_boxes[6] = {};
    QCheckBox *m_checks[5] = {};
    QComboBox *m_minutes = nullptr;
    QLabel *m_status = nullptr;
    Automation::TarnpostSite m_control;
    bool m_statisticsWritten = false;
    QString m_statisticsError;
};

} // namespace Scan
