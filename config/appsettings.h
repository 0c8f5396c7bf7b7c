#pragma once
// Settings beyond the original four rule switches, in settings.ini in the
// program folder (stats.dat keeps its twelve lines). A missing file or key
// gives the default, which is the program's behaviour before the setting
// existed; a value that cannot be read gives the default too, and is named by
// problems().

#include <QString>
#include <QStringList>

class AppSettings final
{
public:
    enum class Announce {
        BoxPerMessage, // a "Spam from" box for each message
        SummaryAtEnd,  // one box when the scan ends
        TrayOnly,      // a tray notification only
    };

    static constexpr double DefaultThreshold = 0.95;
    static QString fileName() { return QStringLiteral("settings.ini"); }

    explicit AppSettings(const QString &folder);

    void load();
    bool save(); // atomic; errorText() says why not

    QString path() const { return m_path; }
    QStringList problems() const { return m_problems; }
    QString errorText() const { return m_error; }

    Announce announce = Announce::BoxPerMessage;
    bool holdForReview = false;
    bool learnedFilter = false;
    double learnedThreshold = DefaultThreshold; // condemned above it, 0 < t < 1

private:
    QString m_path;
    QStringList m_problems;
    QString m_error;
};
