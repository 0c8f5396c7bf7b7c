#pragma once
// Every modal message box of the program goes through here, so tests can
// answer the boxes and check their text, title and buttons.

#include <QList>
#include <QString>

class QWidget;

class MessageBox final
{
public:
    enum Button { Ok, Cancel, Yes, No };
    enum Buttons { OkOnly, OkCancel, YesNo };

    // Shows a modal box and returns the button pressed. An empty title means
    // the application's title "Quellmail".
    static Button show(QWidget *parent, const QString &text, const QString &title = QString(),
                       Buttons buttons = OkOnly);

    struct Record
    {
        QString text;
        QString title;
        Buttons buttons = OkOnly;
        Button answer = Ok;
    };

    // Test mode: no box is shown; answers come from the queue, else the
    // first button of the set (Ok or Yes).
    static void setTestMode(bool on);
    static bool testMode();
    static void queueAnswer(Button answer);
    static QList<Record> records();
    static void clearRecords();

    static QString defaultTitle();

private:
    MessageBox() = delete;
};
