#pragma once
// The "Spam" tab: the archived and held messages with why each was
// condemned, and what the user can do with them. Deletion happens at the
// account's next scan, by the message's unique id.

#include "state/reviewlist.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QPushButton;
class QStandardItemModel;
class QTableView;
class StateDatabase;

class SpamReviewTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SpamReviewTab)

public:
    enum Column { Judged, Sender, Subject, Size, Account, Rule, Entry, Where, State, ColumnCount };

    SpamReviewTab(const QString &programFolder, QWidget *parent = nullptr);
    ~SpamReviewTab() override;

    // Reads the list again (after a scan, when the tab is shown).
    void refresh();
    QTableView *view() const { return m_view; }

    // Picks the file "Save as email…" writes for one message, and the folder
    // it writes several into; file dialogs unless replaced.
    void setSaveFileChooser(std::function<QString(const QString &suggested)> chooser);
    void setSaveFolderChooser(std::function<QString(const QString &start)> chooser);
    // The message without the archive's prefix; empty when it cannot be read.
    QByteArray messageBytes(qint64 row) const;
    // Headers and the text a reader sees, decoded as far as possible.
    static QString previewText(const QByteArray &message);

Q_SIGNALS:
    // "Not spam" with the whitelist box ticked: the window adds the sender.
    void whitelistRequested(const QString &address);
    // Something the user should read (a failed save, a missing archive copy).
    void problem(const QString &text);
    // The learned filter was taught the user's judgement ("Spam", "Not spam").
    void learned();

private:
    QList<qint64> selectedRows() const;
    QList<ReviewList::Message> selectedMessages();
    bool database();
    void deleteFromServer();
    void notSpam();
    void markSpam();
    // Asks before adding the sender's address to the whitelist, once per
    // entry; refuses, saying why, when the sender holds no whole address.
    void offerWhitelistEntry(const QString &sender, QStringList *asked);
    // Teaches the learned filter the messages' archive copies.
    void learn(const QList<ReviewList::Message> &messages, bool spam);
    void saveAsEmail();
    // Writes each message as its own file into the folder; never overwrites.
    void saveInto(const QString &folder, const QList<ReviewList::Message> &messages);
    void preview();
    void updateButtons();
    bool eventFilter(QObject *watched, QEvent *event) override;

    QString m_folder;
    std::unique_ptr<StateDatabase> m_database;
    QStandardItemModel *m_model;
    QTableView *m_view;
    QCheckBox *m_alsoWhitelist;
    QPushButton *m_save = nullptr;
    QPushButton *m_preview = nullptr;
    std::function<QString(const QString &)> m_chooser;
    std::function<QString(const QString &)> m_folderChooser;
    // Where the next save starts: the user's Documents or home, then the last folder used.
    QString m_saveFolder;
};
