#include "config/widgets/module_update_config.h"

#include "config/datafile.h"
#include "config/listkind.h"
#include "config/listtable.h"
#include "config/statsfile.h"
#include "config/widgets/configwindow.h"
#include "config/widgets/savereport.h"

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

bool saveList(ConfigForm &form, ListKind kind, QString *reason)
{
    // Rows are taken before the first yield, so an edit made while the file
    // is written cannot leave a mix of old and new rows in it.
    const ListTable *table = Lists::table(form, kind);
    QList<QStringList> rows;
    rows.reserve(table->rowCountValue());
    for (int row = 1; row <= table->rowCountValue(); ++row)
        rows.append(table->rowCells(row));

    QSaveFile file(Lists::filePath(form, kind));
    if (!DataFile::openForSave(file, kind == ListKind::Accounts, reason))
        return false;
    bool written = true;
    const QString suffix = Lists::savedSuffix(kind);
    for (qsizetype i = 0; i < rows.size() && written; ++i) {
        form.setSplashMessage(u"Updating "_s + QString::number(i + 1) + suffix);
        QCoreApplication::processEvents();
        written = DataFile::writeAll(file, DataFile::encodeLine(rowLine(kind, rows.at(i))));
    }
    return DataFile::finishSave(file, written, reason);
}

} // namespace

bool module_update_config(ConfigWindow &form)
{
    SaveReport report;
    QString reason;
    if (!StatsFile::write(form, &reason))
        report.addFailure(StatsFile::path(form), reason);
    form.showSplash();
    form.setSplashMessage(u"Updating configuration data."_s);
    QCoreApplication::processEvents();
    for (ListKind kind : {ListKind::Accounts, ListKind::Whitelist, ListKind::Blacklist, ListKind::Keywords}) {
        if (!saveList(form, kind, &reason))
            report.addFailure(Lists::filePath(form, kind), reason);
    }
    form.hideSplash();
    report.show(form.formWidget());
    return report.isEmpty();
}
