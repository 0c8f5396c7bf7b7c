#include "config/widgets/savereminder.h"

#include "config/configform.h"
#include "platform/messagebox/messagebox.h"

using namespace Qt::StringLiterals;

namespace {

bool g_reminded = false;

} // namespace

QString SaveReminder::boxText(const QString &notice)
{
    return notice + u"\r\nBe sure to click Save Settings when you are finished."_s;
}

QString SaveReminder::statusText(const QString &notice) { return notice + u" Not saved yet: click Save Settings."_s; }

void SaveReminder::tell(ConfigForm &form, QWidget *parent, const QString &notice, const QString &title)
{
    if (g_reminded) {
        form.setStatusText(statusText(notice));
        return;
    }
    g_reminded = true;
    MessageBox::show(parent, boxText(notice), title, MessageBox::OkOnly);
}

void SaveReminder::resetSession() { g_reminded = false; }
