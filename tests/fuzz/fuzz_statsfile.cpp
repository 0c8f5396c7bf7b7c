// stats.dat: whatever the file holds, the values the window takes from it are
// written back to a file that reads to the same values.

#include "config/statsfile.h"
#include "config/widgets/ruleswitch.h"
#include "tests/config/testform.h"
#include "tests/fuzz/fuzzsupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

namespace {

QStringList snapshot(const TestForm &form)
{
    QStringList values;
    for (QLineEdit *box : {form.txtAccountsCount(), form.txtwhitelistCount(), form.txtblacklistCount(),
                           form.txtkeywordsCount(), form.txtEmailsBlockedCount(), form.txttotalemailsever()})
        values << box->text();
    values << form.combominutes()->currentText();
    for (QCheckBox *box : {form.checkautoscan(), form.checkwhitelist(), form.checkblacklist(), form.checkspamcop(),
                           form.checkkeywords()})
        values << QString::number(RuleSwitch::value(box));
    return values;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Fuzz::ensureApplication();
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("stats.dat")));
    if (!file.open(QIODevice::WriteOnly))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    QStringList first;
    {
        TestForm form(dir.path());
        StatsFile::read(form);
        first = snapshot(form);
        Fuzz::check(StatsFile::write(form), "stats.dat could not be written");
    }
    TestForm again(dir.path());
    StatsFile::read(again);
    Fuzz::check(snapshot(again) == first, "stats.dat does not read back to what was written");
    return 0;
}
