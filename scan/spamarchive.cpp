#include "spamarchive.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QUrl>

#include <cmath>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

constexpr qsizetype MaxFileNameBytes = 255;  // NAME_MAX on Linux file systems
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

QString SpamArchive::folder(const QString &programFolder)
{
    return programFolder + u"/SpamDeleted/"_s;
}

QString SpamArchive::fileName(const QString &subject)
{
    // A header taken from a downloaded message can keep its line's CR.
    QStringView text(subject);
    while (!text.isEmpty() && (text.back() == u'\r' || text.back() == u'\n'))
        text.chop(1);

    QString name;
    name.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'/' || u == u'\\' || u < 0x20 || u == 0x7F)
            name.append(u'_');
        else
            name.append(c);
    }
    // Shorten by whole characters until the UTF-8 name fits. Every character
    // takes at least one byte, so a longer name is cut at once: a subject of
    // a megabyte must not cost a re-encoding per character.
    const qsizetype limit = MaxFileNameBytes - Extension.size();
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
    return name + Extension;
}

QString SpamArchive::filePath(const QString &programFolder, const QString &subject)
{
    return folder(programFolder) + fileName(subject);
}

void SpamArchive::openFolder(const QString &programFolder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder(programFolder)));
}

bool raiseTotal(QLineEdit *box)
{
    qint64 value = 0;
    if (!box || !readNumber(box->text(), &value))
        return false;
    box->setText(QString::number(value + 1));
    return true;
}

void ScannedTotal::raise()
{
    count();
    flush();
}

void ScannedTotal::flush()
{
    if (!m_box || m_pending == 0)
        return;
    qint64 value = 0;
    if (readNumber(m_box->text(), &value))
        m_last = value;
    m_last += m_pending;
    m_pending = 0;
    m_box->setText(QString::number(m_last));
}

} // namespace Scan
