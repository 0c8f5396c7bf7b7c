#pragma once
// The main window's keys: Alt+letter for its buttons and tabs (their
// captions stay as they are, so no '&' marks them; the key is in the
// tooltip), Ctrl+Tab and Ctrl+PageDown between tabs wherever the focus is,
// Delete on a list's rows, and a rule's caption that ticks its box.

#include <QHash>
#include <QList>
#include <QObject>

#include <functional>

class QAbstractButton;
class QAbstractItemView;
class QLabel;
class QTabWidget;
class QWidget;

class WindowKeys final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WindowKeys)

public:
    explicit WindowKeys(QWidget *window);

    // Alt+key clicks the button while it is visible and enabled; buttons on
    // different tabs may share a key.
    void addButton(QAbstractButton *button, QChar key);
    void addTab(QTabWidget *tabs, QWidget *page, QChar key);
    void addTabSwitching(QTabWidget *tabs);
    // Delete on a row of `view` clicks `button`.
    void addDeleteKey(QAbstractItemView *view, QAbstractButton *button);
    // A click on `caption` clicks `box`, as if the caption were the box's own text.
    void linkCaption(QLabel *caption, QAbstractButton *box);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void addAction(QChar key, std::function<bool()> action);

    QWidget *m_window;
    QHash<QChar, QList<std::function<bool()>>> m_actions;
    QHash<QObject *, QAbstractButton *> m_captions;
};
