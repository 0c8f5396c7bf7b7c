#include "config/widgets/addentrydialog.h"

#include "config/configform.h"
#include "config/widgets/savereminder.h"
#include "platform/messagebox/messagebox.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

using namespace Qt::StringLiterals;

AddEntryDialog::AddEntryDialog(ConfigForm &form, ListKind kind, const Texts &texts, QWidget *parent)
    : QDialog(parent)
    , m_form(form)
    , m_kind(kind)
    , m_texts(texts)
{}

void AddEntryDialog::attach(QLineEdit *box, QPushButton *add, QPushButton *cancel)
{
    m_box = box;
    m_add = add;
    m_cancel = cancel;
    connect(m_add, &QPushButton::clicked, this, &AddEntryDialog::add);
    connect(m_cancel, &QPushButton::clicked, this, &AddEntryDialog::cancel);
}

void AddEntryDialog::openDialog()
{
    if (isVisible())
        return;
    m_box->setFocus(Qt::OtherFocusReason);
    exec();
}

void AddEntryDialog::add()
{
    m_form.showGrids();
    const QString text = m_box->text();
    if (text.size() >= m_texts.minimumLength) {
        Lists::appendRow(m_form, m_kind, {text});
        QCoreApplication::processEvents();
        SaveReminder::tell(m_form, this, m_texts.success, m_texts.successTitle);
        hide();
        m_box->clear();
    } else {
        MessageBox::show(this, m_texts.refusal, QString(), MessageBox::OkOnly);
        m_box->clear();
    }
    m_form.showGrids();
}

void AddEntryDialog::cancel()
{
    hide();
    m_form.showGrids();
}

void AddEntryDialog::reject() { cancel(); }
