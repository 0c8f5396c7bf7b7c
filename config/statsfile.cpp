#include "config/statsfile.h"

#include "config/configform.h"
#include "config/datafile.h"
#include "config/ruleswitch.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSaveFile>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

// A box state written as a number: surrounding blanks allowed, digits only.
std::optional<int> parseState(const QString &line)
{
    const QString digits = line.trimmed();
    if (digits.isEmpty())
        return std::nullopt;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const int value = digits.toInt(&ok);
    if (!ok || value < 0 || value > 2)
        return std::nullopt;
    return value;
}

QString stateLine(const QCheckBox *box)
{
    return u' ' + QString::number(RuleSwitch::value(box)) + u' ';
}

} // namespace

void StatsFile::read(ConfigForm &form)
{
    if (const std::optional<QStringList> lines = DataFile::readLines(path(form))) {
        QLineEdit *const textBoxes[] = {form.txtAccountsCount(), form.txtwhitelistCount(),
                                        form.txtblacklistCount(), form.txtkeywordsCount(),
                                        form.txtEmailsBlockedCount(), form.txttotalemailsever()};
        QCheckBox *const stateBoxes[] = {form.checkautoscan(), form.checkwhitelist(),
                                         form.checkblacklist(), form.checkspamcop(),
                                         form.checkkeywords()};
        const QStringList &l = *lines;
        [&] {
            for (int i = 0; i < 6; ++i) {
                if (i >= l.size())
                    return;
                textBoxes[i]->setText(l.at(i));
            }
            for (int i = 6; i < LineCount; ++i) {
                if (i >= l.size())
                    return;
                if (i == 7) {
                    form.combominutes()->setEditText(l.at(i));
                    continue;
                }
                const std::optional<int> state = parseState(l.at(i));
                if (!state)
                    return;
                QCheckBox *box = stateBoxes[i == 6 ? 0 : i - 7];
                RuleSwitch::setValue(box, *state);
            }
        }();
    }
    form.checkblacklist()->setCheckState(Qt::Checked);
    form.checkautoscan()->setCheckState(Qt::Checked);
}

bool StatsFile::write(ConfigForm &form, QString *reason)
{
    const QStringList lines = {
        form.txtAccountsCount()->text(),
        form.txtwhitelistCount()->text(),
        form.txtblacklistCount()->text(),
        form.txtkeywordsCount()->text(),
        form.txtEmailsBlockedCount()->text(),
        form.txttotalemailsever()->text(),
        stateLine(form.checkautoscan()),
        form.combominutes()->currentText(),
        stateLine(form.checkwhitelist()),
        stateLine(form.checkblacklist()),
        stateLine(form.checkspamcop()),
        stateLine(form.checkkeywords()),
    };
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += DataFile::encodeLine(line);

    QSaveFile file(path(form));
    if (!DataFile::openForSave(file, true, reason))
        return false;
    return DataFile::finishSave(file, DataFile::writeAll(file, bytes), reason);
}

QString StatsFile::path(const ConfigForm &form)
{
    return form.programFolder() + u"/stats.dat"_s;
}
