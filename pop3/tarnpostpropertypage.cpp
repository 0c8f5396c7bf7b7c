#include "pop3/tarnpostpropertypage.h"

#include "pop3/include/tarnpostctl.h"
#include "pop3/tarnpostmembers.h"

#include <QGridLayout>
#include <QHash>
#include <QLabel>
#include <QLineEdit>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace Tarnpostctl {

TarnpostPropertyPage::TarnpostPropertyPage(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(u"Tarnpost_Property_Page"_s);
    setWindowTitle(u"Tarnpost_Property_Page"_s);

    auto *layout = new QGridLayout(this);
    layout->setColumnMinimumWidth(0, 180);
    layout->setColumnMinimumWidth(1, 180);
    // Fields are made in the order of their cells, which is the tab order.
    QList<const TarnpostMember *> shown;
    for (const TarnpostMember &member : tarnpostMembers()) {
        if (member.pageCell >= 0)
            shown.append(&member);
    }
    std::stable_sort(shown.begin(), shown.end(),
                     [](const TarnpostMember *a, const TarnpostMember *b) { return a->pageCell < b->pageCell; });
    QHash<qint32, QLineEdit *> edits;
    for (const TarnpostMember *member : std::as_const(shown))
        edits.insert(member->id, addField(member->name, member->pageCell / PageRows, member->pageCell % PageRows));
    for (const TarnpostMember &member : tarnpostMembers()) {
        if (member.pageCell >= 0)
            m_fields.prepend({member.id, edits.value(member.id)});
    }
    layout->setRowStretch(10, 1);
}

TarnpostPropertyPage::~TarnpostPropertyPage() = default;

QLineEdit *TarnpostPropertyPage::addField(const QString &name, int column, int row)
{
    auto *grid = static_cast<QGridLayout *>(layout());
    auto *label = new QLabel(name + u':', this);
    label->setObjectName(u"lbl"_s + name);
    auto *edit = new QLineEdit(this);
    edit->setObjectName(u"txt"_s + name);
    label->setBuddy(edit);
    grid->addWidget(label, row * 2, column);
    grid->addWidget(edit, row * 2 + 1, column);
    connect(edit, &QLineEdit::textChanged, this, [this] { setChanged(true); });
    return edit;
}

void TarnpostPropertyPage::setChanged(bool changed)
{
    if (m_changed == changed)
        return;
    m_changed = changed;
    Q_EMIT changedStateChanged(changed);
}

void TarnpostPropertyPage::setObjects(const QList<Automation::AutomationObject *> &objects)
{
    m_object = objects.isEmpty() ? nullptr : objects.constFirst();
    if (!m_object)
        return;
    for (const Field &field : std::as_const(m_fields)) {
        QVariantList args;
        QVariant value;
        if (!m_object->invoke(field.memberId, Automation::InvokeKind::PropertyGet, args, &value).ok())
            continue;
        if (value.metaType().id() == QMetaType::Bool)
            field.edit->setText(value.toBool() ? u"True"_s : u"False"_s);
        else
            field.edit->setText(value.toString());
    }
    // Showing the selection is not an edit: nothing to apply yet.
    setChanged(false);
}

void TarnpostPropertyPage::apply()
{
    if (!m_object)
        return;
    // Each value goes through the property's own let; one that does not
    // convert is refused there and leaves that property as it was.
    for (const Field &field : std::as_const(m_fields)) {
        QVariantList args{field.edit->text()};
        m_object->invoke(field.memberId, Automation::InvokeKind::PropertyPut, args);
    }
    setChanged(false);
}

} // namespace Tarnpostctl
