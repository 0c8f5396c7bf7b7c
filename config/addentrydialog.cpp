#include "config/addentrydialog.h"

#include "config/configform.h"
#include "platform/messagebox/messagebox.h"
#include "config/module_griddisplay.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

AddEntryDialog::AddEntryDialog(ConfigForm &form, ListKind kind, const Texts &texts, QWidget *parent)
    : QDialog(parent)
    , m_form(form)
    , m_kind(kind)
    , m_texts(texts)
{
    setWindowTitle(texts.windowCaption);
    setModal(true);

    auto *frame = new QGroupBox(texts.frameCaption, this);
    auto *label = new QLabel(texts.label, frame);
    m_box = new QLineEdit(frame);
    m_box->setObjectName(texts.boxName);
    label->setBuddy(m_box);
    auto *frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(label);
    frameLayout->addWidget(m_box);

    m_add = new QPushButton(u"Add"_s, this);
    m_add->setObjectName(texts.addName);
    m_add->setDefault(true);
    m_cancel = new QPushButton(u"Cancel"_s, this);
    m_cancel->setObjectName(texts.cancelName);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_add);
    buttons->addWidget(m_cancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addLayout(buttons);
    setMinimumWidth(340);

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
    module_griddisplay(m_form);
    const QString text = m_box->text();
    if (text.size() >= m_texts.minimumLength) {
        Lists::appendRow(m_form, m_kind, {text});
        QCoreApplication::processEvents();
        MessageBox::show(this,
                         m_texts.success + u"\r\nBe sure to click Save Settings when you are finished."_s,
                         m_texts.successTitle, MessageBox::OkOnly);
        hide();
        m_box->clear();
    } else {
        MessageBox::show(this, m_texts.refusal, QString(), MessageBox::OkOnly);
        m_box->clear();
    }
    module_griddisplay(m_form);
}

void AddEntryDialog::cancel()
{
    hide();
    module_griddisplay(m_form);
}

void AddEntryDialog::reject()
{
    cancel();
}
