#include "module_update_config.h"

#include "configform.h"
#include "datafile.h"
#include "listkind.h"
#include "listtable.h"
#include "statsfile.h"

#include <QCoreApplication>
#include <QSaveFile>

using namespace Qt::StringLiterals;

namespace {

QString rowLine(ListKind kind, const QStringList &cells)
{
    if (kind == ListKind::Accounts)
        return cells.value(0) + u',' + cells.value(1) + u',' + cells.value(2);
    return cells.value(0);
}

bool saveList(ConfigForm &form, ListKind kind)
{
    // Rows are taken before the first yield, so an edit made while the file
    // is written cannot leave a mix of old and new rows in it.
    const ListTable *table = Lists::table(form, kind);
    QList<QStringList> rows;
    rows.reserve(table->rowCountValue());
    for (int row = 1; row <= table->rowCountValue(); ++row)
        rows.append(table->rowCells(row));

    QSaveFile file(Lists::filePath(form, kind));
    if (!DataFile::openForSave(file, kind == ListKind::Accounts))
        return false;
    bool ok = true;
    const QString suffix = Lists::savedSuffix(kind);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        form.setSplashMessage(u"Updating "_s + QString::number(i + 1) + suffix);
        QCoreApplication::processEvents();
        if (!DataFile::writeAll(file, DataFile::encodeLine(rowLine(kind, rows.at(i))))) {
            ok = false;
            break;
        }
    }
    if (!ok) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace

bool module_update_config(ConfigForm &form)
{
    bool ok = StatsFile::write(form);
    form.showSplash();
    form.setSplashMessage(u"Updating configuration data."_s);
    QCoreApplication::processEvents();
    for (ListKind kind : {ListKind::Accounts, ListKind::Whitelist, ListKind::Blacklist, ListKind::Keywords})
        ok = saveList(form, kind) && ok;
    form.hideSplash();
    return ok;
}
