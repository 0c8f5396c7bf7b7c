#include "config/listloaders.h"

#include "config/configform.h"
#include "config/datafile.h"
#include "config/listkind.h"
#include "config/listtable.h"

#include <QCoreApplication>

namespace {

void processEvents() { QCoreApplication::processEvents(); }

// Suspends the grid's display and empties its table, with caption and columns set.
void prepareGrid(ConfigForm &form, ListKind kind, int columns, const QList<int> &widths)
{
    form.suspendGrid(kind);
    ListTable *table = Lists::table(form, kind);
    table->setColumnCount(columns);
    table->setCaption(Lists::caption(kind));
    table->setColumnWidths(widths);
    table->removeAll();
}

void loadSingleColumnList(ConfigForm &form, ListKind kind)
{
    prepareGrid(form, kind, 1, {ListTable::WidthUnits});
    const std::optional<QStringList> lines = DataFile::readLines(Lists::filePath(form, kind));
    if (!lines)
        return;
    for (const QString &line : *lines) {
        Lists::appendRow(form, kind, {line});
        processEvents();
    }
}

} // namespace

void module_accountsgrid(ConfigForm &form)
{
    form.showAccountsTab();
    processEvents();
    prepareGrid(form, ListKind::Accounts, 3, {180, 160, 120});
    const std::optional<QStringList> lines = DataFile::readLines(Lists::filePath(form, ListKind::Accounts));
    if (!lines)
        return;
    for (const QString &line : *lines) {
        processEvents();
        const qsizetype c1 = line.indexOf(u',');
        const qsizetype c2 = c1 < 0 ? -1 : line.indexOf(u',', c1 + 1);
        // A line that cannot be split ends the file: the rows so far stay.
        if (c2 < 0)
            break;
        const QString server = line.left(c1);
        const QString login = line.mid(c1 + 1, c2 - c1 - 1);
        const QString password = line.mid(c2 + 1);
        if (server.size() < MinimumMailServerLength)
            continue;
        Lists::appendRow(form, ListKind::Accounts, {server, login, password});
        processEvents();
    }
}

void module_whitelist(ConfigForm &form)
{
    processEvents();
    loadSingleColumnList(form, ListKind::Whitelist);
}

void module_blacklist(ConfigForm &form) { loadSingleColumnList(form, ListKind::Blacklist); }

void module_keywords(ConfigForm &form) { loadSingleColumnList(form, ListKind::Keywords); }

void loadAllLists(ConfigForm &form)
{
    processEvents();
    module_accountsgrid(form);
    processEvents();
    module_whitelist(form);
    processEvents();
    module_blacklist(form);
    processEvents();
    module_keywords(form);
    form.showGrids();
}
