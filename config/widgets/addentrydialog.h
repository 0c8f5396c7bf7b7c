#pragma once
// The modal dialog that adds one entry to the whitelist, the blacklist or the
// keyword list. Created once and hidden between uses; its box keeps its text
// when cancelled and is emptied after every Add.

#include "config/listkind.h"

#include <QDialog>

class ConfigForm;
class QLineEdit;
class QPushButton;

class AddEntryDialog : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AddEntryDialog)

public:
    // What Add says; the captions and object names are in each dialog's form.
    struct Texts
    {
        int minimumLength = 1;
        QString refusal;
        QString success;
        QString successTitle;
    };

    AddEntryDialog(ConfigForm &form, ListKind kind, const Texts &texts, QWidget *parent);

    ListKind kind() const { return m_kind; }
    QLineEdit *entryBox() const { return m_box; }
    QPushButton *addButton() const { return m_add; }
    QPushButton *cancelButton() const { return m_cancel; }

    // Shows the dialog modally with its box as it was left.
    void openDialog();

public Q_SLOTS:
    void reject() override; // Escape and the title-bar close cancel

protected:
    // The entry box and the two buttons of the subclass's form.
    void attach(QLineEdit *box, QPushButton *add, QPushButton *cancel);

private Q_SLOTS:
    void add();
    void cancel();

private:
    ConfigForm &m_form;
    ListKind m_kind;
    Texts m_texts;
    QLineEdit *m_box = nullptr;
    QPushButton *m_add = nullptr;
    QPushButton *m_cancel = nullptr;
};
