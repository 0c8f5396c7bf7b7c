#pragma once
// What the list, stats.dat and scan procedures need of a form, as values:
// its four lists, the six boxes and five switches stats.dat keeps, the scan
// interval, and a few calls while lists load. The main window implements it
// over its controls, the command-line scan over plain values; the editing
// procedures need the window's controls too (ConfigWindow).

#include <QString>

#include <optional>

class ListTable;
enum class ListKind;

// The boxes whose texts stats.dat keeps, in its order.
enum class FormBox { AccountsCount, WhitelistCount, BlacklistCount, KeywordsCount, EmailsBlocked, TotalScanned };
// The switches stats.dat keeps: 0 off, 1 on, 2 greyed.
enum class FormSwitch { AutoScan, Whitelist, Blacklist, SpamCop, Keywords };

class ConfigForm
{
public:
    virtual ~ConfigForm() = default;

    virtual QString programFolder() const = 0;

    virtual ListTable *gridAccounts() const = 0;
    virtual ListTable *gridwhitelist() const = 0;
    virtual ListTable *gridblacklist() const = 0;
    virtual ListTable *gridkeywords() const = 0;

    virtual QString boxText(FormBox box) const = 0;
    virtual void setBoxText(FormBox box, const QString &text) = 0;
    virtual int switchValue(FormSwitch which) const = 0;
    // Ignores anything but 0, 1 and 2.
    virtual void setSwitchValue(FormSwitch which, int value) = 0;
    // The scan interval in minutes, as typed.
    virtual QString minutes() const = 0;
    virtual void setMinutes(const QString &text) = 0;

    // Brings the first tab (Accounts) to the front.
    virtual void showAccountsTab() {}
    // A list's grid is not painted while the list loads; showGrids() paints
    // every grid again with its columns laid out.
    virtual void suspendGrid(ListKind kind) { Q_UNUSED(kind) }
    virtual void showGrids() {}
    // The progress window: shown without blocking, message set, hidden.
    virtual void showSplash() {}
    virtual void setSplashMessage(const QString &message) { Q_UNUSED(message) }
    virtual void hideSplash() {}
    // The status line, where the window has one.
    virtual void setStatusText(const QString &text) { Q_UNUSED(text) }

    // What stats.dat held for a total (EmailsBlocked, TotalScanned) when this
    // form last read or wrote it; empty when that was not a number.
    std::optional<qint64> savedTotal(FormBox box) const { return m_savedTotals[box == FormBox::TotalScanned]; }
    void setSavedTotal(FormBox box, std::optional<qint64> value)
    {
        m_savedTotals[box == FormBox::TotalScanned] = value;
    }

private:
    std::optional<qint64> m_savedTotals[2];
};
