#pragma once
// "Be sure to click Save Settings": the box that says it after an added or
// deleted entry appears once per session. Later changes are told in the
// status line, so an edit costs no extra box; leaving the program with
// unsaved changes asks to save them.

#include <QString>

class ConfigForm;
class QWidget;

class SaveReminder final
{
public:
    // Shows `notice` with the reminder in a box the first time in this
    // session; after that puts `notice` and a shorter reminder in the form's
    // status line instead.
    static void tell(ConfigForm &form, QWidget *parent, const QString &notice, const QString &title);
    static QString boxText(const QString &notice);
    static QString statusText(const QString &notice);
    // Tests start each case as a new session.
    static void resetSession();

private:
    SaveReminder() = delete;
};
