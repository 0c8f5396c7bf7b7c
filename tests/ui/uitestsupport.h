#pragma once
// Helpers for driving the main window in tests: files in a program folder,
// and answering a modal dialog from inside its exec().

#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace UiTest {

inline void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

inline QByteArray readBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

// The main window's parts that only tests look at, found by their names.
inline QLineEdit *txtTimer(const QObject &w) { return w.findChild<QLineEdit *>(QStringLiteral("txtTimer")); }
inline QLineEdit *txtEmailsAllowedCount(const QObject &w)
{
    return w.findChild<QLineEdit *>(QStringLiteral("txtEmailsAllowedCount"));
}
inline QTimer *Timer1(const QObject &w) { return w.findChild<QTimer *>(QStringLiteral("Timer1")); }
inline QTabWidget *SSTab1(const QObject &w) { return w.findChild<QTabWidget *>(QStringLiteral("SSTab1")); }
inline QTextBrowser *webhelpbrowser(const QObject &w)
{
    return w.findChild<QTextBrowser *>(QStringLiteral("webhelpbrowser"));
}
inline QDialog *splash(const QObject &w) { return w.findChild<QDialog *>(QStringLiteral("frmSplash")); }

// Clicks the button named `name` on `form`, as the user would: a button
// that is missing or not connected fails the test that relies on it.
inline void click(QWidget &form, const QString &name)
{
    auto *button = form.findChild<QPushButton *>(name);
    QVERIFY2(button, qPrintable(name));
    button->click();
}

// Runs `action` once on the first dialog of type Dialog under `form` that is
// visible (it is then inside its modal exec()). The returned flag tells
// whether it ran.
template <typename Dialog, typename Action> std::shared_ptr<bool> whenShown(QWidget &form, Action action)
{
    auto ran = std::make_shared<bool>(false);
    auto *timer = new QTimer(&form);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, &form, [timer, &form, action, ran] {
        for (Dialog *dialog : form.findChildren<Dialog *>()) {
            if (!dialog->isVisible())
                continue;
            timer->stop();
            timer->deleteLater();
            *ran = true;
            action(dialog);
            return;
        }
    });
    timer->start();
    return ran;
}

} // namespace UiTest
