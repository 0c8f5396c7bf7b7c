#include "scan/headlessform.h"

#include "config/listloaders.h"
#include "config/listtable.h"
#include "config/statsfile.h"
#include "config/widgets/ruleswitch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

using namespace Qt::StringLiterals;

namespace Scan {

HeadlessForm::HeadlessForm(const QString &programFolder, QWidget *parent)
    : QWidget(parent)
    , m_folder(programFolder)
{
    while (m_folder.size() > 1 && m_folder.endsWith(u'/'))
        m_folder.chop(1);
    for (ListTable *&table : m_tables)
        table = new ListTable(this);
    for (QLineEdit *&box : m_boxes)
        box = new QLineEdit(u"0"_s, this);
    const QString names[] = {u"checkautoscan"_s, u"checkwhitelist"_s, u"checkblacklist"_s, u"checkspamcop"_s,
                             u"checkkeywords"_s};
    for (int k = 0; k < 5; ++k) {
        m_checks[k] = new QCheckBox(this);
        m_checks[k]->setObjectName(names[k]);
        m_checks[k]->setTristate(true);
    }
    m_minutes = new QComboBox(this);
    m_minutes->setEditable(true);
    m_minutes->addItem(u"1"_s);
    m_minutes->setEditText(u"5"_s);
    m_status = new QLabel(this);
}

HeadlessForm::~HeadlessForm() = default;

bool HeadlessForm::createControl(const QString &libraryFolder, QString *error)
{
    const bool created = m_control.create(libraryFolder, this);
    if (!created && error)
        *error = m_control.errorString();
    return created;
}

void HeadlessForm::load()
{
    StatsFile::read(*this);
    loadAllLists(*this);
}

void HeadlessForm::writeStatistics()
{
    m_statisticsError.clear();
    m_statisticsWritten = StatsFile::writeTotals(*this, &m_statisticsError);
}

bool HeadlessForm::ruleOn(const QString &box) const
{
    for (const QCheckBox *check : m_checks) {
        if (check->objectName() == box)
            return RuleSwitch::isOn(check);
    }
    return false;
}

void HeadlessForm::announceSpam(const QString &text) { Q_EMIT spamAnnounced(text); }

} // namespace Scan
