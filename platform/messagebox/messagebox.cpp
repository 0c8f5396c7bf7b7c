#include "platform/messagebox/messagebox.h"

#include <QMessageBox>
#include <QQueue>

using namespace Qt::StringLiterals;

namespace {

struct TestState
{
    bool on = false;
    QQueue<MessageBox::Button> answers;
    QList<MessageBox::Record> records;
};

TestState &testState()
{
    static TestState state;
    return state;
}

MessageBox::Button firstButton(MessageBox::Buttons buttons)
{
    switch (buttons) {
    case MessageBox::YesNo: return MessageBox::Yes;
    case MessageBox::SaveDiscardCancel: return MessageBox::Save;
    default: return MessageBox::Ok;
    }
}

bool belongsTo(MessageBox::Button answer, MessageBox::Buttons buttons)
{
    switch (buttons) {
    case MessageBox::OkOnly: return answer == MessageBox::Ok;
    case MessageBox::OkCancel: return answer == MessageBox::Ok || answer == MessageBox::Cancel;
    case MessageBox::YesNo: return answer == MessageBox::Yes || answer == MessageBox::No;
    case MessageBox::SaveDiscardCancel:
        return answer == MessageBox::Save || answer == MessageBox::Discard || answer == MessageBox::Cancel;
    }
    return false;
}

bool isLineBreak(QChar c)
{
    return c == u'\n' || c == u'\r' || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

} // namespace

QString MessageBox::shortenedMark() { return u"\u2026 (shortened)"_s; }

QString MessageBox::shownText(const QString &text)
{
    qsizetype cut = -1;
    int lines = 1;
    for (qsizetype i = 0; i < text.size() && cut < 0; ++i) {
        if (i == MaxCharacters) {
            cut = i;
        } else if (isLineBreak(text.at(i))) {
            const bool crLf = text.at(i) == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n';
            if (++lines > MaxLines)
                cut = i;
            else if (crLf)
                ++i;
        }
    }
    if (cut < 0)
        return text;
    // Never split a surrogate pair.
    if (cut > 0 && text.at(cut - 1).isHighSurrogate())
        --cut;
    return text.left(cut) + shortenedMark();
}

QString MessageBox::defaultTitle() { return u"Quellmail"_s; }

MessageBox::Button MessageBox::show(QWidget *parent, const QString &text, const QString &title, Buttons buttons)
{
    const QString shownTitle = title.isEmpty() ? defaultTitle() : title;
    const QString shown = shownText(text);
    TestState &state = testState();
    if (state.on) {
        Button answer = firstButton(buttons);
        if (!state.answers.isEmpty()) {
            const Button queued = state.answers.dequeue();
            // A queued answer the box cannot give would hide a test mistake.
            answer = belongsTo(queued, buttons) ? queued : firstButton(buttons);
        }
        state.records.append(Record{shown, shownTitle, buttons, answer, TextFormat});
        return answer;
    }

    QMessageBox box(parent);
    box.setWindowTitle(shownTitle);
    // Rich text would render links, tables and images from a sender's header.
    box.setTextFormat(TextFormat);
    box.setText(shown);
    box.setWindowModality(Qt::ApplicationModal);
    switch (buttons) {
    case OkOnly:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    case OkCancel:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    case YesNo:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case SaveDiscardCancel:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Save);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    }
    const int result = box.exec();
    switch (result) {
    case QMessageBox::Yes: return Yes;
    case QMessageBox::No: return No;
    case QMessageBox::Cancel: return Cancel;
    case QMessageBox::Ok: return Ok;
    case QMessageBox::Save: return Save;
    case QMessageBox::Discard: return Discard;
    default:
        // Escape or the title-bar close: the box's "no" answer.
        return buttons == YesNo ? No : (buttons == OkOnly ? Ok : Cancel);
    }
}

void MessageBox::setTestMode(bool on)
{
    TestState &state = testState();
    state.on = on;
    state.answers.clear();
    state.records.clear();
}

bool MessageBox::testMode() { return testState().on; }

void MessageBox::queueAnswer(Button answer) { testState().answers.enqueue(answer); }

QList<MessageBox::Record> MessageBox::records() { return testState().records; }

void MessageBox::clearRecords() { testState().records.clear(); }
