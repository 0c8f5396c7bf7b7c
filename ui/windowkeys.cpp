#include "ui/windowkeys.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QShortcut>
#include <QTabWidget>

using namespace Qt::StringLiterals;

namespace {

QKeySequence altKey(QChar key) { return QKeySequence(u"Alt+"_s + key.toUpper()); }

QString withKey(const QString &toolTip, QChar key)
{
    const QString name = altKey(key).toString(QKeySequence::NativeText);
    return toolTip.isEmpty() ? name : toolTip + u" ("_s + name + u')';
}

} // namespace

WindowKeys::WindowKeys(QWidget *window)
    : QObject(window)
    , m_window(window)
{}

void WindowKeys::addAction(QChar key, std::function<bool()> action)
{
    QList<std::function<bool()>> &actions = m_actions[key.toUpper()];
    actions.append(std::move(action));
    if (actions.size() > 1)
        return;
    auto *shortcut = new QShortcut(altKey(key), m_window);
    connect(shortcut, &QShortcut::activated, this, [this, key] {
        for (const std::function<bool()> &act : std::as_const(m_actions[key.toUpper()])) {
            if (act())
                return;
        }
    });
}

void WindowKeys::addButton(QAbstractButton *button, QChar key)
{
    button->setToolTip(withKey(button->toolTip(), key));
    const QPointer<QAbstractButton> guarded(button);
    addAction(key, [guarded] {
        if (!guarded || !guarded->isVisible() || !guarded->isEnabled())
            return false;
        guarded->setFocus(Qt::ShortcutFocusReason);
        guarded->click();
        return true;
    });
}

void WindowKeys::addTab(QTabWidget *tabs, QWidget *page, QChar key)
{
    const int index = tabs->indexOf(page);
    tabs->setTabToolTip(index, withKey(tabs->tabToolTip(index), key));
    const QPointer<QWidget> guarded(page);
    addAction(key, [tabs, guarded] {
        if (!guarded || tabs->indexOf(guarded) < 0)
            return false;
        tabs->setCurrentWidget(guarded);
        return true;
    });
}

void WindowKeys::addTabSwitching(QTabWidget *tabs)
{
    // The tab widget knows these keys only while the focus is inside it, not
    // on the command buttons below it.
    const auto step = [tabs](int by) {
        const int count = tabs->count();
        if (count > 0)
            tabs->setCurrentIndex((tabs->currentIndex() + by + count) % count);
    };
    for (const QKeySequence &next : {QKeySequence(Qt::CTRL | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_PageDown)})
        connect(new QShortcut(next, m_window), &QShortcut::activated, this, [step] { step(1); });
    for (const QKeySequence &previous :
         {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), QKeySequence(Qt::CTRL | Qt::Key_Backtab),
          QKeySequence(Qt::CTRL | Qt::Key_PageUp)})
        connect(new QShortcut(previous, m_window), &QShortcut::activated, this, [step] { step(-1); });
}

void WindowKeys::addDeleteKey(QAbstractItemView *view, QAbstractButton *button)
{
    auto *shortcut = new QShortcut(QKeySequence::Delete, view);
    shortcut->setContext(Qt::WidgetShortcut);
    connect(shortcut, &QShortcut::activated, button, &QAbstractButton::click);
}

void WindowKeys::linkCaption(QLabel *caption, QAbstractButton *box)
{
    m_captions.insert(caption, box);
    caption->installEventFilter(this);
}

bool WindowKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        QAbstractButton *box = m_captions.value(watched);
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const auto *caption = static_cast<QWidget *>(watched);
        if (box && mouse->button() == Qt::LeftButton && caption->rect().contains(mouse->position().toPoint())
            && box->isEnabled()) {
            box->setFocus(Qt::MouseFocusReason);
            box->click();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
