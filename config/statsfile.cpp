#include "config/statsfile.h"

#include "config/configform.h"
#include "config/datafile.h"

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

QString stateLine(const ConfigForm &form, FormSwitch which)
{
    return u' ' + QString::number(form.switchValue(which)) + u' ';
}

// The lines of the two totals, counted from 0.
constexpr int BlockedLine = 4;
constexpr int ScannedLine = 5;

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

void rememberSaved(ConfigForm &form, FormBox box, const QString &text) { form.setSavedTotal(box, parseTotal(text)); }

// What the form counted since its last read or write, added to what the file
// holds now. A total that is not a number on either side is written as the
// form shows it, as before there was a second writer.
QString mergedTotal(const ConfigForm &form, FormBox box, const QString &onDisk)
{
    const QString text = form.boxText(box);
    const std::optional<qint64> shown = parseTotal(text);
    const std::optional<qint64> now = parseTotal(onDisk);
    if (!shown || !now)
        return text;
    // A form that never read a total started from the "0" it shows at first.
    const qint64 base = form.savedTotal(box).value_or(0);
    // Where only one side counted, its text goes as it stands.
    if (*now == base)
        return text;
    if (*shown == base)
        return onDisk;
    return QString::number(qMax<qint64>(0, *now + (*shown - base)));
}

} // namespace

void StatsFile::read(ConfigForm &form)
{
    if (const std::optional<QStringList> lines = DataFile::readLines(path(form))) {
        const FormBox textBoxes[] = {FormBox::AccountsCount, FormBox::WhitelistCount, FormBox::BlacklistCount,
                                     FormBox::KeywordsCount, FormBox::EmailsBlocked,  FormBox::TotalScanned};
        const FormSwitch states[] = {FormSwitch::AutoScan, FormSwitch::Whitelist, FormSwitch::Blacklist,
                                     FormSwitch::SpamCop, FormSwitch::Keywords};
        const QStringList &l = *lines;
        [&] {
            for (int i = 0; i < 6; ++i) {
                if (i >= l.size())
                    return;
                form.setBoxText(textBoxes[i], l.at(i));
                if (i == BlockedLine || i == ScannedLine)
                    rememberSaved(form, textBoxes[i], l.at(i));
            }
            for (int i = 6; i < LineCount; ++i) {
                if (i >= l.size())
                    return;
                if (i == 7) {
                    form.setMinutes(l.at(i));
                    continue;
                }
                const std::optional<int> state = parseState(l.at(i));
                if (!state)
                    return;
                form.setSwitchValue(states[i == 6 ? 0 : i - 7], *state);
            }
        }();
    }
    form.setSwitchValue(FormSwitch::Blacklist, 1);
    form.setSwitchValue(FormSwitch::AutoScan, 1);
}

bool StatsFile::write(ConfigForm &form, QString *reason) { return write(form, true, reason); }

bool StatsFile::writeTotals(ConfigForm &form, QString *reason) { return write(form, false, reason); }

bool StatsFile::write(ConfigForm &form, bool settingsToo, QString *reason)
{
    QStringList lines = {
        form.boxText(FormBox::AccountsCount),   form.boxText(FormBox::WhitelistCount),
        form.boxText(FormBox::BlacklistCount),  form.boxText(FormBox::KeywordsCount),
        form.boxText(FormBox::EmailsBlocked),   form.boxText(FormBox::TotalScanned),
        stateLine(form, FormSwitch::AutoScan),  form.minutes(),
        stateLine(form, FormSwitch::Whitelist), stateLine(form, FormSwitch::Blacklist),
        stateLine(form, FormSwitch::SpamCop),   stateLine(form, FormSwitch::Keywords),
    };
    const QStringList onDisk = DataFile::readLines(path(form)).value_or(QStringList());
    if (!settingsToo) {
        for (int i = 0; i < LineCount && i < onDisk.size(); ++i)
            lines[i] = onDisk.at(i);
    }
    const FormBox totals[] = {FormBox::EmailsBlocked, FormBox::TotalScanned};
    const int totalLines[] = {BlockedLine, ScannedLine};
    for (int k = 0; k < 2; ++k) {
        if (totalLines[k] < onDisk.size())
            lines[totalLines[k]] = mergedTotal(form, totals[k], onDisk.at(totalLines[k]));
        else
            lines[totalLines[k]] = form.boxText(totals[k]);
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
        form.setBoxText(totals[k], lines.at(totalLines[k]));
        rememberSaved(form, totals[k], lines.at(totalLines[k]));
    }
    return true;
}

QString StatsFile::path(const ConfigForm &form) { return form.programFolder() + u"/stats.dat"_s; }
