#include "scan/spamarchive.h"

#include "config/configform.h"

#include <QDesktopServices>
#include <QUrl>

#include <cmath>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

constexpr qsizetype MaxFileNameBytes = 255; // NAME_MAX on Linux file systems
const QString Extension = u".html"_s;

bool readNumber(const QString &text, qint64 *value)
{
    const QString trimmed = text.trimmed();
    bool ok = false;
    qint64 v = trimmed.toLongLong(&ok);
    if (!ok) {
        const double d = trimmed.toDouble(&ok);
        if (!ok || !std::isfinite(d) || std::fabs(d) > 9e15)
            return false;
        v = qint64(std::nearbyint(d));
    }
    *value = v;
    return true;
}

} // namespace

QString SpamArchive::folder(const QString &programFolder) { return programFolder + u"/SpamDeleted/"_s; }

QString SpamArchive::fileName(const QString &subject, int copy)
{
    // A header taken from a downloaded message can keep its line's CR.
    QStringView text(subject);
    while (!text.isEmpty() && (text.back() == u'\r' || text.back() == u'\n'))
        text.chop(1);

    QString name;
    name.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t u = text.at(i).unicode();
        qsizetype units = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            u = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            units = 2;
        }
        // Format characters (a right-to-left override, say) would make the
        // name show something other than what it is.
        const QChar::Category category = QChar::category(u);
        if (u == u'/' || u == u'\\' || category == QChar::Other_Control || category == QChar::Other_Format
            || category == QChar::Other_Surrogate)
            name.append(u'_');
        else
            name.append(text.mid(i, units));
        i += units - 1;
    }
    const QString suffix = (copy > 1 ? u" (%1)"_s.arg(copy) : QString()) + Extension;
    // Shorten by whole characters until the UTF-8 name fits. Every character
    // takes at least one byte, so a longer name is cut at once: a subject of
    // a megabyte must not cost a re-encoding per character.
    const qsizetype limit = MaxFileNameBytes - suffix.size(); // the suffix is ASCII
    if (name.size() > limit) {
        name.truncate(limit);
        if (name.back().isHighSurrogate())
            name.chop(1);
    }
    while (name.toUtf8().size() > limit) {
        qsizetype cut = name.size() - 1;
        if (cut > 0 && name.at(cut).isLowSurrogate())
            --cut;
        name.truncate(cut);
    }
    return name + suffix;
}

QString SpamArchive::filePath(const QString &programFolder, const QString &subject)
{
    return folder(programFolder) + fileName(subject);
}

void SpamArchive::openFolder(const QString &programFolder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder(programFolder)));
}

bool raiseTotal(ConfigForm &form, FormBox box)
{
    qint64 value = 0;
    if (!readNumber(form.boxText(box), &value))
        return false;
    form.setBoxText(box, QString::number(value + 1));
    return true;
}

void ScannedTotal::raise()
{
    count();
    flush();
}

void ScannedTotal::flush()
{
    if (m_pending == 0)
        return;
    qint64 value = 0;
    if (readNumber(m_form.boxText(m_box), &value))
        m_last = value;
    m_last += m_pending;
    m_pending = 0;
    m_form.setBoxText(m_box, QString::number(m_last));
}

} // namespace Scan
