#pragma once
// Every modal message box of the program goes through here, so tests can
// answer the boxes and check their text, title and buttons. Box text is
// always plain text (it can hold what a mail server sent) and is shortened
// when it would not fit on a screen.

#include <QList>
#include <QString>

class QWidget;

class MessageBox final
{
public:
    enum Button { Ok, Cancel, Yes, No, Save, Discard };
    enum Buttons { OkOnly, OkCancel, YesNo, SaveDiscardCancel };

    // Shows a modal box and returns the button pressed. An empty title means
    // the application's title "Quellmail".
    static Button show(QWidget *parent, const QString &text, const QString &title = QString(),
                       Buttons buttons = OkOnly);

    static constexpr Qt::TextFormat TextFormat = Qt::PlainText;

    struct Record
    {
        QString text; // as the box shows it
        QString title;
        Buttons buttons = OkOnly;
        Button answer = Ok;
        Qt::TextFormat format = TextFormat;
    };

    // At most this many characters and lines of a text are shown; the rest
    // is replaced by shortenedMark().
    static constexpr int MaxCharacters = 1000;
    static constexpr int MaxLines = 20;
    static QString shortenedMark();
    static QString shownText(const QString &text);

    // Test mode: no box is shown; answers come from the queue, else the
    // first button of the set (Ok, Yes or Save).
    static void setTestMode(bool on);
    static bool testMode();
    static void queueAnswer(Button answer);
    static QList<Record> records();
    static void clearRecords();

    static QString defaultTitle();

private:
    MessageBox() = delete;
};
