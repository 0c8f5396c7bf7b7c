#include "config/appsettings.h"

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
    if (text == u"true"_s || text == u"1"_s)
        return true;
    if (text == u"false"_s || text == u"0"_s)
        return false;
    problems->append(key);
    return fallback;
}

} // namespace

AppSettings::AppSettings(const QString &folder)
    : m_path(QDir(folder).filePath(fileName()))
{
}

void AppSettings::load()
{
    *this = AppSettings(QFileInfo(m_path).path());
    const QSettings ini(m_path, QSettings::IniFormat);
    if (ini.status() != QSettings::NoError)
        m_problems.append(fileName());

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
    holdForReview = readBool(ini, u"Scan/holdForReview"_s, false, &m_problems);
    learnedFilter = readBool(ini, u"LearnedFilter/enabled"_s, false, &m_problems);
    const QVariant thresholdValue = ini.value(u"LearnedFilter/threshold"_s);
    if (thresholdValue.isValid()) {
        bool ok = false;
        const double t = thresholdValue.toString().trimmed().toDouble(&ok);
        if (ok && t > 0.0 && t < 1.0)
            learnedThreshold = t;
        else
            m_problems.append(u"LearnedFilter/threshold"_s);
    }
}

bool AppSettings::save()
{
    m_error.clear();
    QSettings ini(m_path, QSettings::IniFormat);
    for (const AnnounceName &a : announceNames()) {
        if (a.value == announce)
            ini.setValue(u"Scan/announce"_s, a.name);
    }
    ini.setValue(u"Scan/holdForReview"_s, holdForReview);
    ini.setValue(u"LearnedFilter/enabled"_s, learnedFilter);
    ini.setValue(u"LearnedFilter/threshold"_s, QString::number(learnedThreshold));
    ini.sync();
    if (ini.status() == QSettings::NoError)
        return true;
    m_error = u"Cannot save "_s + m_path;
    return false;
}
