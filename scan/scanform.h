#pragma once
// What the scan needs of the form it runs on beyond its lists, boxes and
// switches (ConfigForm): the status line, the hosted control, the statistics
// file and ways to tell the user about a condemned message. The main window
// implements it with its controls and a modal box; the command-line scan
// prints instead.

#include "config/configform.h"

namespace Automation {
class TarnpostProxy;
}

class ScanForm : public virtual ConfigForm
{
public:
    // The one-line status line, and the tool tip that holds more than a line.
    virtual void setStatusLine(const QString &text) = 0;
    virtual void setStatusToolTip(const QString &text) = 0;
    virtual Automation::TarnpostProxy &Tarnpost1() = 0;
    // Writes stats.dat from the form (end of every scan).
    virtual void writeStatistics() = 0;
    // "Spam from" and the sender; returns once the user has seen it.
    virtual void announceSpam(const QString &text) = 0;
    // One box for the whole scan, shown when it ends (the summary setting).
    virtual void announceSummary(const QString &text) { announceSpam(text); }
    // A notification that never waits on the user (the tray's balloon).
    virtual void notify(const QString &text) { Q_UNUSED(text) }
    // The same for a failure (an account, the records): a click on it leads to the log.
    virtual void notifyFailure(const QString &text) { notify(text); }
    // True once the user asked the program to end: the scan stops at its
    // next step and drops the connection without QUIT.
    virtual bool isEnding() const = 0;
};
