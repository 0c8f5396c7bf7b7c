#pragma once
// "Test connection" of the account dialog: a control of its own (never the
// window's, which a timed scan may be using) logs in, counts and quits.

#include "config/widgets/accounttester.h"

#include <QPointer>
#include <QString>

class QWidget;

namespace Automation {
class TarnpostProxy;
}

class AccountConnectionTest final : public AccountTester
{
public:
    // The control is loaded from programFolder, with the window's saved
    // properties (port, timeout), as the scan's is.
    AccountConnectionTest(const QString &programFolder, QWidget *parent);

    QString test(const QString &server, const QString &login, const QString &password) override;
    void cancel() override;

private:
    QString m_programFolder;
    QPointer<QWidget> m_parent;
    Automation::TarnpostProxy *m_running = nullptr;
    bool m_cancelled = false;
};
