#include "state/appsettings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

using namespace Qt::StringLiterals;

namespace {

struct AnnounceName
{
    AppSettings::Announce value;
    QString name;
};

const QList<AnnounceName> &announceNames()
{
    static const QList<AnnounceName> names = {
        {AppSettings::Announce::BoxPerMessage, u"box"_s},
        {AppSettings::Announce::SummaryAtEnd, u"summary"_s},
        {AppSettings::Announce::TrayOnly, u"tray"_s},
    };
    return names;
}

bool readBool(const QSettings &ini, const QString &key, bool fallback, QStringList *problems)
{
    const QVariant v = ini.value(key);
    if (!v.isValid())
        return fallback;
    const QString text = v.toString().trimmed().toLower();
    if (text == u"true"_s || text == u"1"_s || text == u"yes"_s || text == u"on"_s)
        return true;
    if (text == u"false"_s || text == u"0"_s || text == u"no"_s || text == u"off"_s)
        return false;
    problems->append(key);
    return fallback;
}

} // namespace

AppSettings::AppSettings(const QString &folder)
    : m_path(QDir(folder).filePath(fileName()))
{}

void AppSettings::load()
{
    *this = AppSettings(QFileInfo(m_path).path());
    const QFileInfo file(m_path);
    if (file.exists() && file.size() > MaxFileSize) {
        // QSettings would hold the whole file in memory twice over.
        m_problems.append(fileName());
        m_tooLarge = true;
        holdForReview = true;
        return;
    }
    const QSettings ini(m_path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError) {
        m_problems.append(fileName());
        holdForReview = true;
        return;
    }

    const QVariant announceValue = ini.value(u"Scan/announce"_s);
    if (announceValue.isValid()) {
        const QString name = announceValue.toString().trimmed().toLower();
        const auto it = std::find_if(announceNames().cbegin(), announceNames().cend(),
                                     [&](const AnnounceName &a) { return a.name == name; });
        if (it != announceNames().cend())
            announce = it->value;
        else
            m_problems.append(u"Scan/announce"_s);
    }
    // Safe side: an unclear answer holds.
    const QStringList before = m_problems;
    holdForReview = readBool(ini, u"Scan/holdForReview"_s, false, &m_problems);
    if (m_problems != before)
        holdForReview = true;
    judgeOnce = readBool(ini, u"Scan/judgeOnce"_s, false, &m_problems);
    learnedFilter = readBool(ini, u"LearnedFilter/enabled"_s, false, &m_problems);
    deleteLearnedVerdicts = readBool(ini, u"LearnedFilter/deleteCondemned"_s, false, &m_problems);
    passwordsInKeyring = readBool(ini, u"Accounts/keyring"_s, false, &m_problems);
    reviewFolder = ini.value(u"Review/saveFolder"_s).toString();
    m_switches.insert(u"LearnedFilter/enabled"_s, learnedFilter);
    for (const QString &key : ini.allKeys()) {
        if (key.startsWith(u"Rules/"_s))
            m_switches.insert(key, readBool(ini, key, false, &m_problems));
    }
    const QVariant thresholdValue = ini.value(u"LearnedFilter/threshold"_s);
    if (thresholdValue.isValid()) {
        bool ok = false;
        const double t = thresholdValue.toString().trimmed().toDouble(&ok);
        if (ok && t > 0.0 && t < 1.0)
            learnedThreshold = t;
        else
            m_problems.append(u"LearnedFilter/threshold"_s);
    }
    const QVariant unsureValue = ini.value(u"LearnedFilter/unsureThreshold"_s);
    if (unsureValue.isValid()) {
        bool ok = false;
        const double u = unsureValue.toString().trimmed().toDouble(&ok);
        // A band that reaches the threshold would list what is condemned.
        if (ok && u >= 0.0 && u <= 1.0 && u < learnedThreshold)
            unsureThreshold = u;
        else
            m_problems.append(u"LearnedFilter/unsureThreshold"_s);
    }
}

QString AppSettings::problemText() const
{
    if (m_problems.isEmpty())
        return {};
    const QString file = QDir::toNativeSeparators(m_path);
    if (m_problems.constFirst() == fileName()) {
        return (m_tooLarge ? u"%1 is larger than %2 KB and was not read"_s.arg(file).arg(MaxFileSize / 1024)
                           : u"%1 cannot be read"_s.arg(file))
               + u": spam is held for review; the other settings are at their defaults"_s;
    }
    QStringList others = m_problems;
    const bool hold = others.removeAll(u"Scan/holdForReview"_s) > 0;
    QString text = u"%1: "_s.arg(file);
    if (!others.isEmpty())
        text += u"unreadable settings were left at their defaults: "_s + others.join(u", "_s);
    if (hold)
        text += (others.isEmpty() ? QString() : u"; "_s)
                + u"Scan/holdForReview is not one of yes, no, true, false, on, off, 1, 0: spam is held for review"_s;
    return text;
}

bool AppSettings::save()
{
    m_error.clear();
    // QSettings writes to the target of a link in the file's place.
    if (QFileInfo(m_path).isSymLink()) {
        m_error = u"%1 is a symbolic link and was not written through it; remove the link to save the file"_s.arg(
            QDir::toNativeSeparators(m_path));
        return false;
    }
    QSettings ini(m_path, QSettings::IniFormat);
    for (const AnnounceName &a : announceNames()) {
        if (a.value == announce)
            ini.setValue(u"Scan/announce"_s, a.name);
    }
    ini.setValue(u"Scan/holdForReview"_s, holdForReview);
    ini.setValue(u"Scan/judgeOnce"_s, judgeOnce);
    ini.setValue(u"LearnedFilter/enabled"_s, learnedFilter);
    ini.setValue(u"LearnedFilter/threshold"_s, QString::number(learnedThreshold));
    ini.setValue(u"LearnedFilter/unsureThreshold"_s, QString::number(unsureThreshold));
    ini.setValue(u"LearnedFilter/deleteCondemned"_s, deleteLearnedVerdicts);
    ini.setValue(u"Accounts/keyring"_s, passwordsInKeyring);
    if (reviewFolder.isEmpty())
        ini.remove(u"Review/saveFolder"_s);
    else
        ini.setValue(u"Review/saveFolder"_s, reviewFolder);
    ini.sync();
    if (ini.status() == QSettings::NoError)
        return true;
    m_error = u"Cannot save "_s + m_path;
    return false;
}
