#pragma once
// Helpers for driving the main window in tests: files in a program folder,
// and answering a modal dialog from inside its exec().

#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>

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

// Clicks the button named `name` on `form`, as the user would: a button
// that is missing or not connected fails the test that relies on it.
inline void click(QWidget &form, const QString &name)
{
    auto *button = form.findChild<QPushButton *>(name);
    QVERIFY2(button, qPrintable(name));
    button->click();
}

// Runs `action` once, as soon as `dialog` is visible (it is then inside its
// modal exec()). The returned flag tells whether it ran.
inline std::shared_ptr<bool> whenShown(QWidget *dialog, std::function<void()> action)
{
    auto ran = std::make_shared<bool>(false);
    auto *timer = new QTimer(dialog);
    timer->setInterval(5);
    QPointer<QWidget> target(dialog);
    QObject::connect(timer, &QTimer::timeout, dialog, [timer, target, action, ran] {
        if (!target || !target->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        *ran = true;
        action();
    });
    timer->start();
    return ran;
}

} // namespace UiTest
