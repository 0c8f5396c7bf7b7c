#pragma once
// Settings beyond the original four rule switches, in settings.ini in the
// program folder (stats.dat keeps its twelve lines). A missing file or key
// gives the default, which is the program's behaviour before the setting
// existed. A value that cannot be read is named by problems() and gives the
// default too, except the review hold, which then holds: when the file does
// not say clearly that spam may be deleted, it is not. A file that cannot be
// read at all (or is too large for one) counts as unreadable in every value.

#include <QHash>
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

    static constexpr double DefaultThreshold = 0.99;
    // Where the learned filter's unsure band begins: the lowest score at
    // which no fold of the benchmark's cross-validation had more than 1 % of
    // its ham (bench/learned.cpp reports whether the folds still agree).
    static constexpr double DefaultUnsureThreshold = 0.7;
    // A settings file is a few lines; a larger one is not read.
    static constexpr qint64 MaxFileSize = 1024 * 1024;
    static QString fileName() { return QStringLiteral("settings.ini"); }

    explicit AppSettings(const QString &folder);

    void load();
    bool save(); // atomic, never through a link in the file's place; errorText() says why not

    QString path() const { return m_path; }
    QStringList problems() const { return m_problems; }
    // The problems as one sentence for the user, saying what was done
    // instead; empty when there were none.
    QString problemText() const;
    QString errorText() const { return m_error; }

    Announce announce = Announce::BoxPerMessage;
    bool holdForReview = false;
    bool learnedFilter = false;
    double learnedThreshold = DefaultThreshold; // condemned above it, 0 < t < 1
    // A message the rules let through that scores at or above this (and not
    // above learnedThreshold) stays on the server, listed as unsure; 0 <= u < t.
    double unsureThreshold = DefaultUnsureThreshold;
    // A score is a guess: what only the learned filter condemns is held for
    // review unless this says it may be deleted.
    bool deleteLearnedVerdicts = false;
    // New passwords go into the desktop's keyring, not accounts.dat. Which
    // accounts are there already is state (KeyringAccounts), not this.
    bool passwordsInKeyring = false;
    // Where the Spam tab last saved or restored messages; empty: the user's
    // Documents (or home) folder.
    QString reviewFolder;
    // A message judged and left on the server is not downloaded or judged
    // again until the rules change (state/judgedmessages.h).
    bool judgeOnce = false;

    // A rule's switch kept here: the learned filter's key, or "Rules/<name>"
    // for a rule without a box on the window. Off unless the file says on;
    // an unreadable value is one of problems().
    bool switchedOn(const QString &key) const { return m_switches.value(key, false); }

private:
    QString m_path;
    QStringList m_problems;
    QString m_error;
    bool m_tooLarge = false;
    QHash<QString, bool> m_switches;
};
