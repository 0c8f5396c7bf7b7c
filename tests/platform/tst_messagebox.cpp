// The message-box seam: whatever a text holds, the box shows it as plain text,
// shortened when it is too long, with its title exact; the same in test mode
// and on a real QMessageBox.

#include "platform/messagebox/messagebox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

struct ShownBox
{
    bool seen = false;
    Qt::TextFormat format = Qt::AutoText;
    QString text;
    QString title;
};

// Answers the next real box with OK, noting what it showed.
void catchNextBox(ShownBox *shown)
{
    auto *timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, shown] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        *shown = ShownBox{true, box->textFormat(), box->text(), box->windowTitle()};
        box->button(QMessageBox::Ok)->click();
    });
    timer->start();
}

QString lines(int n)
{
    QString text;
    for (int i = 1; i <= n; ++i)
        text += u"line %1\r\n"_s.arg(i);
    return text;
}

} // namespace

class tst_MessageBox : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void plainAndShortened_data();
    void plainAndShortened();
};

void tst_MessageBox::plainAndShortened_data()
{
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("shown"); // what follows "Spam from" in the box

    const QString mark = MessageBox::shortenedMark();
    const QString link = u"<a href=\"https://phish.example/\">Your bank</a>"_s;
    const QString table = u"<table width=5000>"_s + u"<tr><td>x</td></tr>"_s.repeated(200) + u"</table>"_s;
    QTest::newRow("link") << link << link;
    QTest::newRow("table") << table << table.left(MessageBox::MaxCharacters - 9) + mark;
    QTest::newRow("img") << u"<img src=/dev/zero>"_s << u"<img src=/dev/zero>"_s;
    QTest::newRow("fake dialog") << u"<b>Error</b>\r\n"_s + lines(40)
                                 << u"<b>Error</b>\r\n"_s + lines(19).chopped(2) + mark;
    QTest::newRow("long sender") << u"x"_s.repeated(100000) << u"x"_s.repeated(MessageBox::MaxCharacters - 9) + mark;
    // The cut would fall inside a surrogate pair.
    QTest::newRow("long astral sender") << u"\U0001D4B3"_s.repeated(1000)
                                        << u"\U0001D4B3"_s.repeated((MessageBox::MaxCharacters - 10) / 2) + mark;
}

void tst_MessageBox::plainAndShortened()
{
    QFETCH(QString, sender);
    QFETCH(QString, shown);
    const QString text = u"Spam from"_s + sender;

    MessageBox::setTestMode(true);
    QCOMPARE(MessageBox::show(nullptr, text, u"Quellmail"_s), MessageBox::Ok);
    QCOMPARE(MessageBox::records().size(), 1);
    const MessageBox::Record record = MessageBox::records().first();
    QCOMPARE(record.text, u"Spam from"_s + shown);
    QCOMPARE(record.format, Qt::PlainText);
    QCOMPARE(record.title, u"Quellmail"_s);

    MessageBox::setTestMode(false);
    ShownBox box;
    catchNextBox(&box);
    QCOMPARE(MessageBox::show(nullptr, text, u"Quellmail"_s), MessageBox::Ok);
    QVERIFY(box.seen);
    QCOMPARE(box.format, Qt::PlainText);
    QCOMPARE(box.text, record.text);
    QCOMPARE(box.title, u"Quellmail"_s);
}

QTEST_MAIN(tst_MessageBox)
#include "tst_messagebox.moc"
