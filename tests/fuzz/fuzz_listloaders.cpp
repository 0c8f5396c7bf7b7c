// The four list loaders: the first byte picks the list, the rest is its file.
// Whatever the file holds, the rows shown are saved by "Save Settings" to a
// file that loads back to the same rows.

#include "config/listkind.h"
#include "config/listloaders.h"
#include "config/listtable.h"
#include "config/widgets/module_update_config.h"
#include "tests/config/testform.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QFile>
#include <QTemporaryDir>

namespace {

QStringList rows(const ListTable *table)
{
    QStringList out;
    for (int r = 1; r <= table->rows(); ++r)
        out << table->rowCells(r).join(u'\x1f');
    return out;
}

QList<QStringList> loadAll(const QString &folder)
{
    TestForm form(folder);
    loadAllLists(form);
    return {rows(form.gridAccounts()), rows(form.gridwhitelist()), rows(form.gridblacklist()),
            rows(form.gridkeywords())};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::ensureApplication();
    if (size < 1)
        return 0;
    static const char *const names[] = {"accounts.dat", "whitelist.dat", "blacklist.dat", "keywords.dat"};
    QTemporaryDir dir;
    QFile file(dir.filePath(QString::fromLatin1(names[data[0] % 4])));
    if (!file.open(QIODevice::WriteOnly))
        return 0;
    file.write(reinterpret_cast<const char *>(data) + 1, qint64(size - 1));
    file.close();

    QList<QStringList> shown;
    {
        TestForm form(dir.path());
        loadAllLists(form);
        shown = {rows(form.gridAccounts()), rows(form.gridwhitelist()), rows(form.gridblacklist()),
                 rows(form.gridkeywords())};
        module_update_config(form);
    }
    Fuzz::check(loadAll(dir.path()) == shown, "saved lists load back to other rows");
    return 0;
}
