#include "scan/headlessform.h"

#include "config/listloaders.h"
#include "config/listtable.h"
#include "config/statsfile.h"

namespace Scan {

HeadlessForm::HeadlessForm(const QString &programFolder, QObject *parent)
    : QObject(parent)
    , m_folder(programFolder)
{
    while (m_folder.size() > 1 && m_folder.endsWith(u'/'))
        m_folder.chop(1);
    for (ListTable *&table : m_tables)
        table = new ListTable(this);
}

HeadlessForm::~HeadlessForm() = default;

void HeadlessForm::load()
{
    StatsFile::read(*this);
    loadAllLists(*this);
}

void HeadlessForm::setSwitchValue(FormSwitch which, int value)
{
    if (value >= 0 && value <= 2)
        m_switches[int(which)] = value;
}

void HeadlessForm::writeStatistics()
{
    m_statisticsError.clear();
    m_statisticsWritten = StatsFile::writeTotals(*this, &m_statisticsError);
}

void HeadlessForm::announceSpam(const QString &text) { Q_EMIT spamAnnounced(text); }

} // namespace Scan
