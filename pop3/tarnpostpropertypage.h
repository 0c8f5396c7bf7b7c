#pragma once
// The design-time property page of the Tarnpost control. It edits the first
// of the selected objects through the automation interface only.

#include "pop3/tarnpost.h"

#include <QWidget>

class QLineEdit;

namespace Tarnpostctl {

class TARNPOSTCTL_EXPORT TarnpostPropertyPage final : public QWidget, public Automation::PropertyPage
{
    Q_OBJECT
    Q_INTERFACES(Automation::PropertyPage)
    Q_DISABLE_COPY_MOVE(TarnpostPropertyPage)

public:
    explicit TarnpostPropertyPage(QWidget *parent = nullptr);
    ~TarnpostPropertyPage() override;

    void setObjects(const QList<Automation::AutomationObject *> &objects) override; // SelectionChanged
    bool isChanged() const override { return m_changed; }
    void apply() override; // ApplyChanges
    QWidget *widget() override { return this; }

Q_SIGNALS:
    void changedStateChanged(bool changed);

private:
    struct Field
    {
        qint32 memberId;
        QLineEdit *edit;
    };
    QLineEdit *addField(const QString &name, int column, int row);
    void setChanged(bool changed);

    // The fields of the members with a page cell, in the member table's
    // order reversed: the order values are read and written in.
    QList<Field> m_fields;

    Automation::AutomationObject *m_object = nullptr;
    bool m_changed = false;
    Tarnpost::LiveObject m_liveObject;
};

} // namespace Tarnpostctl
