#pragma once
// A form without a window: the lists, switches and totals of a program
// folder as plain values, and a reference to the hosted control. The
// command-line scan runs on it; tests run the scan on it too.

#include "pop3/host/tarnpostproxy.h"
#include "scan/scanform.h"

#include <QObject>

namespace Scan {

class HeadlessForm final : public QObject, public ScanForm
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(HeadlessForm)

public:
    explicit HeadlessForm(const QString &programFolder, QObject *parent = nullptr);
    ~HeadlessForm() override;

    // Reads stats.dat and the four lists the way the window's load sequence
    // does. Every setting the scan obeys must be read here as the window
    // reads it (a review hold instead of deletion, once there is one), so
    // both scan the same way.
    void load();

    QString programFolder() const override { return m_folder; }
    ListTable *gridAccounts() const override { return m_tables[0]; }
    ListTable *gridwhitelist() const override { return m_tables[1]; }
    ListTable *gridblacklist() const override { return m_tables[2]; }
    ListTable *gridkeywords() const override { return m_tables[3]; }
    QString boxText(FormBox box) const override { return m_boxes[int(box)]; }
    void setBoxText(FormBox box, const QString &text) override { m_boxes[int(box)] = text; }
    int switchValue(FormSwitch which) const override { return m_switches[int(which)]; }
    void setSwitchValue(FormSwitch which, int value) override;
    QString minutes() const override { return m_minutes; }
    void setMinutes(const QString &text) override { m_minutes = text; }

    void setStatusLine(const QString &text) override { m_status = text; }
    void setStatusToolTip(const QString &text) override { m_statusTip = text; }
    QString statusLine() const { return m_status; }
    QString statusToolTip() const { return m_statusTip; }
    // Points at the control the caller hosts (or a stand-in).
    Automation::TarnpostProxy &Tarnpost1() override { return m_control; }
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
    // As the window's boxes start: every count "0", every switch off, 5 minutes.
    QString m_boxes[6] = {QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0"),
                          QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("0")};
    int m_switches[5] = {};
    QString m_minutes = QStringLiteral("5");
    QString m_status;
    QString m_statusTip;
    Automation::TarnpostProxy m_control;
    bool m_statisticsWritten = false;
    QString m_statisticsError;
};

} // namespace Scan
