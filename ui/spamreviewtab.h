#pragma once
// The "Spam" tab: the archived and held messages with why each was
// condemned, and what the user can do with them. Deletion happens at the
// account's next scan, by the message's unique id. The list sorts by any
// column, filters by state and search words, and shows held messages first.

#include "state/reviewlist.h"

#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QTableView;
class SpamReviewFilter;
class StateDatabase;

class SpamReviewTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SpamReviewTab)

public:
    enum Column { Caught, Sent, Sender, Subject, Size, Account, Rule, Entry, Where, State, ColumnCount };
    // The message id of a row, on its first cell.
    static constexpr int IdRole = Qt::UserRole + 1;

    SpamReviewTab(const QString &programFolder, QWidget *parent = nullptr);
    ~SpamReviewTab() override;

    // Reads the list again (after a scan, when the tab is shown).
    void refresh();
    // Shows the rows as the user sees them: filtered and sorted.
    QTableView *view() const { return m_view; }
    // Selects the rows of these messages that are shown.
    void selectMessages(const QList<qint64> &ids);

    // Picks the file "Save as email…" writes for one message, and the folder
    // it writes several into; file dialogs unless replaced.
    void setSaveFileChooser(std::function<QString(const QString &suggested)> chooser);
    void setSaveFolderChooser(std::function<QString(const QString &start)> chooser);
    // Opens restored messages with the desktop's mail program; QDesktopServices unless replaced.
    void setUrlOpener(std::function<void(const QUrl &)> opener);
    // At most this many restored files are opened one by one; more open their folder.
    static constexpr qsizetype MaxOpened = 10;
    // The message without the archive's prefix; empty when it cannot be
    // read or the file now holds another message.
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
    // The list was read again: what it holds may have changed.
    void refreshed();

private:
    // Whether the row's archive file still holds its message: the user may
    // have deleted it and a later message taken its name.
    bool copyMatches(const ReviewList::Message &m) const;
    QList<qint64> selectedRows() const;
    QList<ReviewList::Message> selectedMessages();
    bool database();
    void deleteFromServer();
    void notSpam();
    void markSpam();
    // Asks before adding the sender's address to the whitelist, once per
    // entry; refuses, saying why, when the sender holds no whole address.
    void offerWhitelistEntry(const QString &sender, QStringList *asked);
    // Teaches the learned filter the messages' archive copies, or the words
    // kept of an unsure message; false (told) when any was not learned.
    bool learn(const QList<ReviewList::Message> &messages, bool spam);
    void saveAsEmail();
    // Writes each message as its own file into the folder; never overwrites.
    // The files written.
    QStringList saveInto(const QString &folder, const QList<ReviewList::Message> &messages);
    // "Restore…": the messages as emails into a folder, then offers to open them.
    void restore(const QList<ReviewList::Message> &messages);
    // A folder from the chooser, never the program's own; empty when none.
    QString chooseFolder(const QString &title);
    // Where the next save starts, for this run and the next (settings.ini).
    void rememberFolder(const QString &folder);
    void preview();
    void updateButtons();
    void updateCount();
    bool eventFilter(QObject *watched, QEvent *event) override;

    QString m_folder;
    std::unique_ptr<StateDatabase> m_database;
    QStandardItemModel *m_model;
    SpamReviewFilter *m_filter;
    QTableView *m_view;
    QLineEdit *m_search = nullptr;
    QComboBox *m_show = nullptr;
    QLabel *m_count = nullptr;
    QCheckBox *m_alsoWhitelist;
    QPushButton *m_save = nullptr;
    QPushButton *m_preview = nullptr;
    QPushButton *m_restore = nullptr;
    std::function<QString(const QString &)> m_chooser;
    std::function<QString(const QString &)> m_folderChooser;
    QString m_folderTitle; // of the folder chooser's dialog
    std::function<void(const QUrl &)> m_urlOpener;
    // Where the next save starts: the user's Documents or home, then the last folder used.
    QString m_saveFolder;
};
