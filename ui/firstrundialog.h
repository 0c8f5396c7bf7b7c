#pragma once
// "How should Quellmail handle spam?": asked once, after the first account of
// a fresh program folder is added. The recommended choices come ticked; the
// window applies them as if the user had set each control by hand. Skip
// leaves every setting as it is.

#include "mail/mailclientfolders.h"

#include <QDialog>
#include <QList>

class FolderDiscovery;
class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

class FirstRunDialog final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FirstRunDialog)

public:
    struct Choices
    {
        bool holdForReview = true;
        bool summary = true; // one summary box instead of one per message
        bool judgeOnce = true;
        bool whitelist = true;
        bool blacklist = true;
        bool senderIp = false; // shows an address, condemns nothing
        bool keywords = true;
        bool learnedFilter = false;
        // Mail-program folders to train the learned filter from.
        QList<Scan::MailClientFolders::Folder> training;
    };

    // Looks for mail-program folders under home to offer for training, on a
    // thread of its own; the offer shows once they are counted.
    explicit FirstRunDialog(const QString &home, QWidget *parent = nullptr);
    bool lookingForFolders() const;

    QCheckBox *checkHold() const { return m_hold; }
    QCheckBox *checkSummary() const { return m_summary; }
    QCheckBox *checkJudgeOnce() const { return m_judgeOnce; }
    QCheckBox *checkWhitelist() const { return m_whitelist; }
    QCheckBox *checkBlacklist() const { return m_blacklist; }
    QCheckBox *checkSenderIp() const { return m_senderIp; }
    QCheckBox *checkKeywords() const { return m_keywords; }
    QCheckBox *checkLearned() const { return m_learned; }
    // Hidden when no mail-program folder with spam or legitimate mail was found.
    QCheckBox *checkTrain() const { return m_train; }
    QPushButton *cmdApply() const { return m_apply; }
    QPushButton *cmdSkip() const { return m_skip; }

    Choices choices() const;

private:
    // A box with its line of explanation below it; `line` receives the line.
    QCheckBox *addChoice(const QString &caption, const QString &explanation, bool on, QLabel **line = nullptr);
    void offerTraining(const QList<Scan::MailClientFolders::Folder> &found);

    QList<Scan::MailClientFolders::Folder> m_folders; // spam and legitimate only
    QCheckBox *m_hold = nullptr;
    QCheckBox *m_summary = nullptr;
    QCheckBox *m_judgeOnce = nullptr;
    QCheckBox *m_whitelist = nullptr;
    QCheckBox *m_blacklist = nullptr;
    QCheckBox *m_senderIp = nullptr;
    QCheckBox *m_keywords = nullptr;
    QCheckBox *m_learned = nullptr;
    QCheckBox *m_train = nullptr;
    QPushButton *m_apply = nullptr;
    QPushButton *m_skip = nullptr;
    QVBoxLayout *m_choices = nullptr;
    QLabel *m_trainLine = nullptr;
    FolderDiscovery *m_discovery = nullptr;
    bool m_learnedDecided = false;
};
