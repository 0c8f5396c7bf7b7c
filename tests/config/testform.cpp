#include "tests/config/testform.h"

#include "config/listtable.h"
#include "config/widgets/listgridview.h"
#include "config/widgets/module_griddisplay.h"
#include "config/widgets/ruleswitch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

using namespace Qt::StringLiterals;

TestForm::TestForm(const QString &folder)
    : m_folder(folder)
{
    for (int i = 0; i < 4; ++i) {
        m_tables[i] = new ListTable(this);
        m_views[i] = new ListGridView(this);
        m_views[i]->setListTable(m_tables[i]);
    }
    for (QLineEdit *&box : m_boxes)
        box = new QLineEdit(u"0"_s, this);
    for (QCheckBox *&check : m_checks)
        check = new QCheckBox(this);
    m_minutes = new QComboBox(this);
    m_minutes->setEditable(true);
    m_minutes->setInsertPolicy(QComboBox::NoInsert);
    m_minutes->addItem(u"1"_s);
    m_minutes->setEditText(u"5"_s);
}

QTableView *TestForm::gridAccountsView() const { return m_views[0]; }
QTableView *TestForm::gridwhitelistView() const { return m_views[1]; }
QTableView *TestForm::gridblacklistView() const { return m_views[2]; }
QTableView *TestForm::gridkeywordsView() const { return m_views[3]; }

QString TestForm::boxText(FormBox box) const { return m_boxes[int(box)]->text(); }
void TestForm::setBoxText(FormBox box, const QString &text) { m_boxes[int(box)]->setText(text); }
int TestForm::switchValue(FormSwitch which) const { return RuleSwitch::value(m_checks[int(which)]); }
void TestForm::setSwitchValue(FormSwitch which, int value) { RuleSwitch::setValue(m_checks[int(which)], value); }
QString TestForm::minutes() const { return m_minutes->currentText(); }
void TestForm::setMinutes(const QString &text) { m_minutes->setEditText(text); }

void TestForm::suspendGrid(ListKind kind)
{
    if (ListGridView *view = gridView(kind))
        view->setUpdatesEnabled(false);
}

void TestForm::showGrids() { module_griddisplay(*this); }
