#include "config/statsfile.h"

#include "config/configform.h"
#include "config/datafile.h"
#include "config/widgets/ruleswitch.h"

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

QString stateLine(const QCheckBox *box) { return u' ' + QString::number(RuleSwitch::value(box)) + u' '; }

// The lines of the two totals, counted from 0.
constexpr int BlockedLine = 4;
constexpr int ScannedLine = 5;

// A total's value as the file held it when the form last read or wrote it.
constexpr char SavedTotal[] = "quellmail.savedTotal";

std::optional<qint64> parseTotal(const QString &text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 18)
        return std::nullopt;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    return digits.toLongLong();
}

void rememberSaved(QLineEdit *box, const QString &text)
{
    if (const std::optional<qint64> value = parseTotal(text))
        box->setProperty(SavedTotal, *value);
    else
        box->setProperty(SavedTotal, QVariant());
}

// What the form counted since its last read or write, added to what the file
// holds now. A total that is not a number on either side is written as the
// form shows it, as before there was a second writer.
QString mergedTotal(const QLineEdit *box, const QString &onDisk)
{
    const std::optional<qint64> shown = parseTotal(box->text());
    const std::optional<qint64> now = parseTotal(onDisk);
    if (!shown || !now)
        return box->text();
    // A form that never read a total started from the "0" it shows at first.
    const QVariant saved = box->property(SavedTotal);
    const qint64 base = saved.isValid() ? saved.toLongLong() : 0;
    // Where only one side counted, its text goes as it stands.
    if (*now == base)
        return box->text();
    if (*shown == base)
        return onDisk;
    return QString::number(qMax<qint64>(0, *now + (*shown - base)));
}

} // namespace

void StatsFile::read(ConfigForm &form)
{
    if (const std::optional<QStringList> lines = DataFile::readLines(path(form))) {
        QLineEdit *const textBoxes[] = {form.txtAccountsCount(),      form.txtwhitelistCount(),
                                        form.txtblacklistCount(),     form.txtkeywordsCount(),
                                        form.txtEmailsBlockedCount(), form.txttotalemailsever()};
        QCheckBox *const stateBoxes[] = {form.checkautoscan(), form.checkwhitelist(), form.checkblacklist(),
                                         form.checkspamcop(), form.checkkeywords()};
        const QStringList &l = *lines;
        [&] {
            for (int i = 0; i < 6; ++i) {
                if (i >= l.size())
                    return;
                textBoxes[i]->setText(l.at(i));
                if (i == BlockedLine || i == ScannedLine)
                    rememberSaved(textBoxes[i], l.at(i));
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

bool StatsFile::write(ConfigForm &form, QString *reason) { return write(form, true, reason); }

bool StatsFile::writeTotals(ConfigForm &form, QString *reason) { return write(form, false, reason); }

bool StatsFile::write(ConfigForm &form, bool settingsToo, QString *reason)
{
    QStringList lines = {
        form.txtAccountsCount()->text(),  form.txtwhitelistCount()->text(),     form.txtblacklistCount()->text(),
        form.txtkeywordsCount()->text(),  form.txtEmailsBlockedCount()->text(), form.txttotalemailsever()->text(),
        stateLine(form.checkautoscan()),  form.combominutes()->currentText(),   stateLine(form.checkwhitelist()),
        stateLine(form.checkblacklist()), stateLine(form.checkspamcop()),       stateLine(form.checkkeywords()),
    };
    const QStringList onDisk = DataFile::readLines(path(form)).value_or(QStringList());
    if (!settingsToo) {
        for (int i = 0; i < LineCount && i < onDisk.size(); ++i)
            lines[i] = onDisk.at(i);
    }
    QLineEdit *const totals[] = {form.txtEmailsBlockedCount(), form.txttotalemailsever()};
    const int totalLines[] = {BlockedLine, ScannedLine};
    for (int k = 0; k < 2; ++k) {
        if (totalLines[k] < onDisk.size())
            lines[totalLines[k]] = mergedTotal(totals[k], onDisk.at(totalLines[k]));
        else
            lines[totalLines[k]] = totals[k]->text();
    }

    QByteArray bytes;
    for (const QString &line : std::as_const(lines))
        bytes += DataFile::encodeLine(line);
    QSaveFile file(path(form));
    if (!DataFile::openForSave(file, true, reason))
        return false;
    if (!DataFile::finishSave(file, DataFile::writeAll(file, bytes), reason))
        return false;
    for (int k = 0; k < 2; ++k) {
        totals[k]->setText(lines.at(totalLines[k]));
        rememberSaved(totals[k], lines.at(totalLines[k]));
    }
    return true;
}

QString StatsFile::path(const ConfigForm &form) { return form.programFolder() + u"/stats.dat"_s; }
