#include "ui/spamreviewtab.h"

#include "mail/mimetext.h"
#include "platform/messagebox/messagebox.h"
#include "scan/spamtrainer.h"
#include "state/appsettings.h"
#include "state/reviewlist.h"
#include "state/statedatabase.h"
#include "ui/senderaddress.h"
#include "ui/spamreviewfilter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype MaxPreviewChars = 200000;
const QString WhitelistTitle = u"Whitelist"_s;
const QString DeleteTitle = u"Delete from server"_s;
const QString SaveTitle = u"Save as email"_s;
const QString RestoreTitle = u"Restore"_s;
constexpr qsizetype MaxFileNameChars = 100;

// What the control answers for a header the message lacks.
const QString MissingHeader = u"<not found>"_s;

// The archive copy holds the message as the server sent it: dot-stuffed, and
// without the line end of its last line, which the terminator took. A saved
// email is the message itself. Nothing comes of an empty copy (unreadable).
QByteArray emailFileBytes(const QByteArray &archived)
{
    if (archived.isEmpty())
        return {};
    QByteArray out;
    out.reserve(archived.size() + 2);
    qsizetype line = 0;
    while (line < archived.size()) {
        const qsizetype next = archived.indexOf('\n', line);
        const qsizetype end = next < 0 ? archived.size() : next + 1;
        const qsizetype from = archived.at(line) == '.' ? line + 1 : line;
        out.append(archived.constData() + from, end - from);
        line = end;
    }
    out.append("\r\n");
    return out;
}

QString countOf(qsizetype n) { return n == 1 ? u"1 message"_s : u"%1 messages"_s.arg(n); }

// What lands in the program folder or its archive looks like the program's own files.
bool isProgramFolder(const QString &folder, const QString &programFolder)
{
    const QString canonical = QDir(folder).canonicalPath();
    const QDir program(programFolder);
    return canonical == program.canonicalPath()
           || canonical == QDir(program.filePath(u"SpamDeleted"_s)).canonicalPath();
}

// The folder remembered from the last save, while it is there; else the
// user's Documents or home. Never the program folder.
QString firstSaveFolder(const QString &programFolder)
{
    AppSettings settings(programFolder);
    settings.load();
    for (const QString &folder :
         {settings.reviewFolder, QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation),
          QDir::homePath()}) {
        if (!folder.isEmpty() && QDir(folder).exists() && !isProgramFolder(folder, programFolder))
            return folder;
    }
    return QDir::homePath();
}

bool writeEmail(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = u"Cannot save "_s + path + u": "_s + file.errorString();
    return false;
}

// A file name (without ".eml") from a subject; never empty, never a path.
QString fileNameFor(const QString &subject)
{
    QString name;
    if (subject != MissingHeader) {
        for (const QChar c : subject)
            name += c.unicode() < 0x20 || c.unicode() == 0x7f || u"/\\:*?\"<>|"_s.contains(c) ? u'_' : c;
    }
    name = name.simplified();
    if (name.size() > MaxFileNameChars) {
        name.truncate(MaxFileNameChars);
        if (name.back().isHighSurrogate())
            name.chop(1);
    }
    // No hidden file, no "..", no name some systems trim.
    while (!name.isEmpty() && (name.front() == u'.' || name.front() == u' '))
        name.remove(0, 1);
    while (!name.isEmpty() && (name.back() == u'.' || name.back() == u' '))
        name.chop(1);
    return name.isEmpty() ? u"message"_s : name;
}

// Held and unsure first: what waits for the user's word; then what is still
// on the server, then what is gone.
int stateRank(ReviewList::State state)
{
    switch (state) {
    case ReviewList::State::Held: return 0;
    case ReviewList::State::Unsure: return 1;
    case ReviewList::State::DeleteRequested: return 2;
    case ReviewList::State::Kept: return 3;
    case ReviewList::State::Deleted: return 4;
    case ReviewList::State::Gone: return 5;
    }
    return 6;
}

// An unsure message was never archived: it is on the server, nowhere else.
const QString NoCopy = u"Quellmail keeps no copy of a message the learned filter was unsure of; it is still on the "
                       "server, where your mail program shows it."_s;

QString copyMissing(const ReviewList::Message &m)
{
    return m.archiveFile.isEmpty() ? NoCopy : u"The archive copy of this message cannot be read."_s;
}

// A time as a sort key; a missing or unreadable one sorts as the oldest.
qint64 timeKey(const QDateTime &time)
{
    return time.isValid() ? time.toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
}

QDateTime sentTime(const QString &header)
{
    QString text = header.simplified();
    // A trailing comment ("(UTC)") is common and not part of the date.
    if (const qsizetype comment = text.indexOf(u'('); comment > 0)
        text = text.left(comment).trimmed();
    return QDateTime::fromString(text, Qt::RFC2822Date);
}

QPushButton *button(QWidget *parent, const QString &name, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

} // namespace

SpamReviewTab::SpamReviewTab(const QString &programFolder, QWidget *parent)
    : QWidget(parent)
    , m_folder(programFolder)
    , m_model(new QStandardItemModel(0, ColumnCount, this))
    , m_filter(new SpamReviewFilter(this))
    , m_view(new QTableView(this))
    , m_alsoWhitelist(new QCheckBox(u"Also add the sender to the whitelist"_s, this))
{
    setObjectName(u"tabSpam"_s);
    m_model->setHorizontalHeaderLabels({u"Caught"_s, u"Date"_s, u"Sender"_s, u"Subject"_s, u"Size"_s, u"Account"_s,
                                        u"Rule"_s, u"Entry"_s, u"Found in"_s, u"State"_s});
    m_model->horizontalHeaderItem(Caught)->setToolTip(u"When Quellmail condemned the message"_s);
    m_model->horizontalHeaderItem(Sent)->setToolTip(u"The date the message gives itself (its Date header)"_s);
    m_filter->setSourceModel(m_model);
    m_view->setObjectName(u"gridSpam"_s);
    m_view->setModel(m_filter);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    m_view->setWordWrap(false);
    // Sender and subject take the room a wide window gives; the columns whose
    // text can be long (a learned verdict's tokens) keep a width the user can
    // change, their whole text in the tooltip.
    QHeaderView *header = m_view->horizontalHeader();
    header->setStretchLastSection(false);
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    header->setSectionResizeMode(Sender, QHeaderView::Stretch);
    header->setSectionResizeMode(Subject, QHeaderView::Stretch);
    const std::pair<Column, int> widths[] = {{Account, 130}, {Entry, 100}, {Where, 100}};
    for (const auto &[column, width] : widths) {
        header->setSectionResizeMode(column, QHeaderView::Interactive);
        header->resizeSection(column, width);
    }
    m_view->setSortingEnabled(true);
    m_view->sortByColumn(State, Qt::AscendingOrder);
    m_alsoWhitelist->setObjectName(u"checkAlsoWhitelist"_s);

    m_search = new QLineEdit(this);
    m_search->setObjectName(u"txtSpamSearch"_s);
    m_search->setPlaceholderText(u"Search sender, subject, account"_s);
    m_search->setClearButtonEnabled(true);
    m_show = new QComboBox(this);
    m_show->setObjectName(u"comboSpamShow"_s);
    m_show->addItems(SpamReviewFilter::showTexts());
    m_count = new QLabel(this);
    m_count->setObjectName(u"lblSpamCount"_s);
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_filter->setSearchText(text);
        updateCount();
    });
    connect(m_show, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_filter->setShow(SpamReviewFilter::Show(index));
        updateCount();
    });
    auto *find = new QHBoxLayout;
    find->addWidget(m_search, 1);
    find->addWidget(m_show);
    find->addWidget(m_count);

    QPushButton *remove = button(this, u"cmdDeleteFromServer"_s, u"Delete from server"_s);
    QPushButton *keep = button(this, u"cmdNotSpam"_s, u"Not spam"_s);
    QPushButton *spam = button(this, u"cmdSpam"_s, u"Spam"_s);
    spam->setToolTip(u"Confirms the verdict: the learned filter learns the message as spam. A message it was unsure "
                     "of is then held, to be deleted with \"Delete from server\"."_s);
    QPushButton *save = button(this, u"cmdSaveAsEmail"_s, u"Save as email\u2026"_s);
    QPushButton *show = button(this, u"cmdPreview"_s, u"Preview"_s);
    m_restore = button(this, u"cmdRestore"_s, u"Restore\u2026"_s);
    m_save = save;
    m_preview = show;
    connect(remove, &QPushButton::clicked, this, &SpamReviewTab::deleteFromServer);
    connect(keep, &QPushButton::clicked, this, &SpamReviewTab::notSpam);
    connect(spam, &QPushButton::clicked, this, &SpamReviewTab::markSpam);
    connect(save, &QPushButton::clicked, this, &SpamReviewTab::saveAsEmail);
    connect(show, &QPushButton::clicked, this, &SpamReviewTab::preview);
    connect(m_restore, &QPushButton::clicked, this, [this] { restore(selectedMessages()); });
    connect(m_view, &QTableView::doubleClicked, this, &SpamReviewTab::preview);

    auto *buttons = new QHBoxLayout;
    for (QWidget *w : {static_cast<QWidget *>(remove), static_cast<QWidget *>(keep),
                       static_cast<QWidget *>(m_alsoWhitelist), static_cast<QWidget *>(spam),
                       static_cast<QWidget *>(save), static_cast<QWidget *>(show), static_cast<QWidget *>(m_restore)})
        buttons->addWidget(w);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(find);
    layout->addWidget(m_view);
    layout->addLayout(buttons);

    m_chooser = [this](const QString &suggested) {
        return QFileDialog::getSaveFileName(this, SaveTitle, suggested, u"Email (*.eml)"_s);
    };
    m_folderChooser = [this](const QString &start) {
        return QFileDialog::getExistingDirectory(this, m_folderTitle, start);
    };
    m_urlOpener = [](const QUrl &url) { QDesktopServices::openUrl(url); };
    m_saveFolder = firstSaveFolder(m_folder);
    m_view->installEventFilter(this);
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, &SpamReviewTab::updateButtons);
    updateButtons();
    updateCount();
}

SpamReviewTab::~SpamReviewTab() = default;

void SpamReviewTab::setSaveFileChooser(std::function<QString(const QString &)> chooser)
{
    m_chooser = std::move(chooser);
}

void SpamReviewTab::setSaveFolderChooser(std::function<QString(const QString &)> chooser)
{
    m_folderChooser = std::move(chooser);
}

void SpamReviewTab::setUrlOpener(std::function<void(const QUrl &)> opener) { m_urlOpener = std::move(opener); }

void SpamReviewTab::updateButtons()
{
    const qsizetype n = m_view->selectionModel()->selectedRows().size();
    m_save->setEnabled(n > 0);
    m_preview->setEnabled(n > 0);
    m_restore->setEnabled(n > 0);
    m_restore->setToolTip(n > 0 ? u"Writes the selected messages as emails into a folder you pick, to open them in "
                                  "your mail program: the way back for what was deleted from the server."_s
                                : u"Select one or more messages first."_s);
    if (n == 0) {
        m_save->setToolTip(u"Select one or more messages first."_s);
        m_preview->setToolTip(u"Select a message first."_s);
    } else if (n == 1) {
        m_save->setToolTip(u"Writes the message as an .eml file your mail program opens."_s);
        m_preview->setToolTip(u"Shows the message as plain text."_s);
    } else {
        m_save->setToolTip(u"Writes each of the %1 as its own .eml file into a folder you pick."_s.arg(countOf(n)));
        m_preview->setToolTip(u"Shows the first of the %1 selected."_s.arg(countOf(n)));
    }
}

bool SpamReviewTab::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_view && (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool plain = (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
        const bool remove = key->key() == Qt::Key_Delete;
        const bool open = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        if (plain && (remove || open)) {
            // Claimed before any window shortcut, so the keys always mean this grid's rows.
            event->accept();
            if (event->type() == QEvent::KeyPress)
                remove ? deleteFromServer() : preview();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool SpamReviewTab::database()
{
    if (m_database)
        return true;
    auto db = std::make_unique<StateDatabase>(m_folder);
    if (!db->open()) {
        Q_EMIT problem(db->errorText());
        return false;
    }
    m_database = std::move(db);
    return true;
}

void SpamReviewTab::refresh()
{
    const QList<qint64> selected = selectedRows();
    m_model->removeRows(0, m_model->rowCount());
    if (!database())
        return;
    const QLocale locale;
    for (const ReviewList::Message &m : ReviewList(*m_database).all()) {
        QList<QStandardItem *> cells;
        const QString header = m.sent == MissingHeader ? QString() : m.sent;
        const QDateTime sentAt = sentTime(header);
        // In the user's format where it can be read, else as the message has it.
        const QString sent = sentAt.isValid() ? locale.toString(sentAt.toLocalTime(), QLocale::ShortFormat) : header;
        const QString caught =
            m.judged.isValid() ? locale.toString(m.judged.toLocalTime(), QLocale::ShortFormat) : QString();
        for (const QString &text :
             QStringList{caught, sent, m.sender, m.subject, locale.formattedDataSize(m.size), m.login + u'@' + m.server,
                         m.rule, m.entry, m.matchedIn, ReviewList::stateText(m.state)}) {
            auto *cell = new QStandardItem(text);
            cell->setData(text, SpamReviewFilter::SortKeyRole);
            cells.append(cell);
        }
        cells.at(Caught)->setData(timeKey(m.judged), SpamReviewFilter::SortKeyRole);
        cells.at(Sent)->setData(timeKey(sentAt), SpamReviewFilter::SortKeyRole);
        cells.at(Sent)->setToolTip(header);
        cells.at(Account)->setToolTip(cells.at(Account)->text());
        cells.at(Entry)->setToolTip(m.entry);
        cells.at(Size)->setData(m.size, SpamReviewFilter::SortKeyRole);
        cells.at(State)->setData(stateRank(m.state), SpamReviewFilter::SortKeyRole);
        cells.at(Where)->setToolTip(m.matchedIn);
        cells.at(0)->setData(m.id, IdRole);
        cells.at(0)->setData(int(m.state), SpamReviewFilter::StateRole);
        cells.at(0)->setData(m.rule == Scan::SpamTrainer::learnedRule(), SpamReviewFilter::GuessRole);
        m_model->appendRow(cells);
    }
    selectMessages(selected);
    updateButtons(); // removing rows drops their selection without a signal
    updateCount();
    Q_EMIT refreshed();
}

void SpamReviewTab::selectMessages(const QList<qint64> &ids)
{
    QItemSelection selection;
    for (int row = 0; row < m_filter->rowCount(); ++row) {
        const QModelIndex index = m_filter->index(row, 0);
        if (ids.contains(index.data(IdRole).toLongLong()))
            selection.select(index, index);
    }
    m_view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void SpamReviewTab::updateCount()
{
    qsizetype held = 0;
    qsizetype unsure = 0;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const int state = m_model->item(row, 0)->data(SpamReviewFilter::StateRole).toInt();
        held += state == int(ReviewList::State::Held);
        unsure += state == int(ReviewList::State::Unsure);
    }
    const QString all = countOf(m_model->rowCount());
    QString text = m_filter->isFiltering() ? u"%1 of %2 shown"_s.arg(m_filter->rowCount()).arg(all) : all;
    if (held > 0)
        text += u", %1 held"_s.arg(held);
    if (unsure > 0)
        text += u", %1 unsure"_s.arg(unsure);
    m_count->setText(text);
}

QList<qint64> SpamReviewTab::selectedRows() const
{
    QList<qint64> ids;
    QModelIndexList rows = m_view->selectionModel()->selectedRows();
    // In the order shown, whatever order they were selected in.
    std::sort(rows.begin(), rows.end(), [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    for (const QModelIndex &index : std::as_const(rows))
        ids.append(index.data(IdRole).toLongLong());
    return ids;
}

QList<ReviewList::Message> SpamReviewTab::selectedMessages()
{
    QList<ReviewList::Message> messages;
    const QList<qint64> ids = selectedRows();
    if (ids.isEmpty() || !database())
        return messages;
    const ReviewList list(*m_database);
    for (const qint64 id : ids) {
        if (const std::optional<ReviewList::Message> m = list.byId(id))
            messages.append(*m);
    }
    return messages;
}

void SpamReviewTab::deleteFromServer()
{
    const QList<ReviewList::Message> messages = selectedMessages();
    if (messages.isEmpty())
        return;
    ReviewList list(*m_database);
    QList<qint64> onServer;
    QList<ReviewList::Message> confirmed;
    qsizetype kept = 0;
    qsizetype unsure = 0;
    for (const ReviewList::Message &m : messages) {
        // What the user marked "Not spam" is never deleted by a wider selection.
        if (m.state == ReviewList::State::Held) {
            onServer.append(m.id);
            confirmed.append(m);
        } else if (m.state == ReviewList::State::Kept) {
            ++kept;
        } else if (m.state == ReviewList::State::Unsure) {
            ++unsure;
        }
    }
    // No copy of an unsure message is kept: it goes only once the user has called it spam.
    const QString unsureStays =
        u"%1 the learned filter was unsure of will stay on the server: press \"Spam\" first to hold it for deletion."_s
            .arg(countOf(unsure));
    if (onServer.isEmpty() && unsure > 0) {
        MessageBox::show(this, u"Nothing to delete. "_s + unsureStays, DeleteTitle, MessageBox::OkOnly);
        return;
    }
    if (onServer.isEmpty()) {
        MessageBox::show(this,
                         u"Nothing to delete: the selected messages are marked \"Not spam\", already deleted or "
                         "already to be deleted."_s,
                         DeleteTitle, MessageBox::OkOnly);
        return;
    }
    QString question = u"Delete %1 from the server at the account's next scan?"_s.arg(countOf(onServer.size()));
    if (kept > 0)
        question += u"\n\n%1 marked \"Not spam\" will stay on the server."_s.arg(countOf(kept));
    if (unsure > 0)
        question += u"\n\n"_s + unsureStays;
    if (MessageBox::show(this, question, DeleteTitle, MessageBox::YesNo) != MessageBox::Yes)
        return;
    if (!list.setState(onServer, ReviewList::State::DeleteRequested))
        Q_EMIT problem(list.errorText());
    else
        learn(confirmed, true); // the user's word: spam
    refresh();
}

void SpamReviewTab::notSpam()
{
    QList<ReviewList::Message> messages = selectedMessages();
    if (messages.isEmpty())
        return;
    if (m_alsoWhitelist->isChecked()) {
        QStringList asked;
        for (const ReviewList::Message &m : std::as_const(messages))
            offerWhitelistEntry(m.sender, &asked);
        // A scan may have run while the boxes were open: the same rows as
        // they are now, whatever became of the view's selection.
        const ReviewList current(*m_database);
        QList<ReviewList::Message> now;
        for (const ReviewList::Message &m : std::as_const(messages)) {
            if (const std::optional<ReviewList::Message> row = current.byId(m.id))
                now.append(*row);
        }
        messages = now;
        if (messages.isEmpty())
            return;
    }
    ReviewList list(*m_database);
    QList<qint64> onServer;
    for (const ReviewList::Message &m : std::as_const(messages)) {
        // A deleted message has nothing left to keep; its archive copy can still be saved.
        if (m.state != ReviewList::State::Deleted && m.state != ReviewList::State::Gone)
            onServer.append(m.id);
    }
    // First: an unsure message's words go with its state.
    learn(messages, false);
    if (!list.markNotSpam(onServer))
        Q_EMIT problem(list.errorText());
    refresh();
    QList<ReviewList::Message> gone;
    for (const ReviewList::Message &m : messages) {
        // An unsure message that left the server has no copy to restore.
        const bool copied = !m.archiveFile.isEmpty();
        if (copied && (m.state == ReviewList::State::Deleted || m.state == ReviewList::State::Gone))
            gone.append(m);
    }
    if (gone.isEmpty())
        return;
    const bool one = gone.size() == 1;
    if (MessageBox::show(this,
                         u"%1 already gone from the server, so nothing is left there to keep.\n\nRestore %2 from "
                         "the copy Quellmail archived, as an email your mail program opens?"_s.arg(
                             one ? u"This message is"_s : countOf(gone.size()) + u" are"_s, one ? u"it"_s : u"them"_s),
                         u"Not spam"_s, MessageBox::YesNo)
        == MessageBox::Yes)
        restore(gone);
}

void SpamReviewTab::offerWhitelistEntry(const QString &sender, QStringList *asked)
{
    QString why;
    const QString entry = SenderAddress::whitelistEntry(sender, &why);
    if (entry.isEmpty()) {
        MessageBox::show(this,
                         u"Nothing was added to the whitelist: the sender\n\n%1\n\nholds no address that can be "
                         "added safely (%2). If you trust this sender, add the address or its domain on the "
                         "Whitelist tab."_s.arg(sender, why),
                         WhitelistTitle, MessageBox::OkOnly);
        return;
    }
    if (asked->contains(entry, Qt::CaseInsensitive))
        return;
    asked->append(entry);
    // Every sender that contains the entry skips all other rules: the user sees it first.
    if (MessageBox::show(this,
                         u"Add this entry to the whitelist?\n\n%1\n\nEvery message whose sender contains it will "
                         "be let through; no other rule looks at it."_s.arg(entry),
                         WhitelistTitle, MessageBox::YesNo)
        == MessageBox::Yes)
        Q_EMIT whitelistRequested(entry);
}

void SpamReviewTab::markSpam()
{
    const QList<ReviewList::Message> messages = selectedMessages();
    if (!learn(messages, true))
        return;
    // Called spam, an unsure message is held: still on the server, for "Delete from server".
    QList<qint64> unsure;
    for (const ReviewList::Message &m : messages) {
        if (m.state == ReviewList::State::Unsure)
            unsure.append(m.id);
    }
    if (unsure.isEmpty())
        return;
    ReviewList list(*m_database);
    if (!list.setState(unsure, ReviewList::State::Held))
        Q_EMIT problem(list.errorText());
    refresh();
}

bool SpamReviewTab::learn(const QList<ReviewList::Message> &messages, bool spam)
{
    if (messages.isEmpty())
        return false;
    const Scan::LearnedFilter::Label label = spam ? Scan::LearnedFilter::Label::Spam : Scan::LearnedFilter::Label::Ham;
    const ReviewList list(*m_database);
    QStringList files;
    QList<Scan::LearnedFilter::Prepared> words;
    qsizetype unreadable = 0;
    for (const ReviewList::Message &m : messages) {
        if (!m.archiveFile.isEmpty()) {
            if (copyMatches(m))
                files.append(m.archiveFile);
            else
                ++unreadable;
        } else if (const std::optional<ReviewList::UnsureWords> w = list.unsureWords(m.id)) {
            // An unsure message, whatever the user said of it since.
            words.append({w->digest, w->tokens, label});
        } else if (m.state == ReviewList::State::Unsure) {
            ++unreadable;
        }
        // Else its message left the server, and its words with it.
    }
    Scan::SpamTrainer trainer(m_folder, *m_database);
    QString error;
    if (!trainer.open()) {
        error = trainer.errorText();
    } else {
        trainer.learnArchived(files, label, Scan::SpamTrainer::JudgedBy::User);
        error = trainer.errorText();
        // The user's word: a message learned with the other label is moved.
        if (error.isEmpty() && !words.isEmpty() && !trainer.filter().learn(words))
            error = trainer.filter().errorText();
    }
    unreadable += trainer.skipped();
    if (!error.isEmpty())
        Q_EMIT problem(u"The learned filter could not learn this: "_s + error);
    else if (unreadable > 0)
        Q_EMIT problem(
            u"What Quellmail kept of %1 message(s) cannot be read; the learned filter did not learn them."_s.arg(
                unreadable));
    Q_EMIT learned();
    return error.isEmpty() && unreadable == 0;
}

bool SpamReviewTab::copyMatches(const ReviewList::Message &m) const
{
    // Rows of older files did not record the size.
    return m.size <= 0 || Scan::SpamTrainer::archivedSize(m_folder, m.archiveFile) == m.size;
}

QByteArray SpamReviewTab::messageBytes(qint64 row) const
{
    if (!m_database)
        return {};
    const std::optional<ReviewList::Message> m = ReviewList(*m_database).byId(row);
    return m && copyMatches(*m) ? Scan::SpamTrainer::archivedMessage(m_folder, m->archiveFile) : QByteArray();
}

void SpamReviewTab::saveAsEmail()
{
    const QList<ReviewList::Message> selected = selectedMessages();
    if (selected.isEmpty())
        return;
    if (selected.size() > 1) {
        const QString folder = chooseFolder(u"Save each message as an email into"_s);
        if (!folder.isEmpty())
            saveInto(folder, selected);
        return;
    }
    const QByteArray bytes = emailFileBytes(messageBytes(selected.first().id));
    if (bytes.isEmpty()) {
        Q_EMIT problem(copyMissing(selected.first()));
        return;
    }
    QString path = m_chooser(QDir(m_saveFolder).filePath(fileNameFor(selected.first().subject) + u".eml"_s));
    if (path.isEmpty())
        return;
    if (!path.endsWith(u".eml"_s, Qt::CaseInsensitive)) {
        path += u".eml"_s;
        // The dialog asked about the name as typed, not about this one.
        if (QFileInfo::exists(path)
            && MessageBox::show(this, u"%1 already exists. Replace it?"_s.arg(path), SaveTitle, MessageBox::YesNo)
                   != MessageBox::Yes)
            return;
    }
    rememberFolder(QFileInfo(path).absolutePath());
    QString error;
    if (!writeEmail(path, bytes, &error))
        Q_EMIT problem(error);
}

QString SpamReviewTab::chooseFolder(const QString &title)
{
    m_folderTitle = title;
    const QString folder = m_folderChooser(m_saveFolder);
    if (folder.isEmpty())
        return {};
    if (isProgramFolder(folder, m_folder)) {
        MessageBox::show(this,
                         u"%1 holds Quellmail's own files; no messages are written there. Pick another folder."_s.arg(
                             QDir::toNativeSeparators(folder)),
                         title, MessageBox::OkOnly);
        return {};
    }
    rememberFolder(folder);
    return folder;
}

void SpamReviewTab::rememberFolder(const QString &folder)
{
    m_saveFolder = folder;
    AppSettings settings(m_folder);
    settings.load();
    // A file that cannot be read is left for the user; the folder is only a convenience.
    if (!settings.problems().isEmpty() || settings.reviewFolder == folder || isProgramFolder(folder, m_folder))
        return;
    settings.reviewFolder = folder;
    if (!settings.save())
        Q_EMIT problem(settings.errorText());
}

void SpamReviewTab::restore(const QList<ReviewList::Message> &messages)
{
    if (messages.isEmpty())
        return;
    const QString folder = chooseFolder(u"Restore the messages as emails into"_s);
    if (folder.isEmpty())
        return;
    const QStringList written = saveInto(folder, messages);
    if (written.isEmpty())
        return;
    const bool one = written.size() == 1;
    const bool each = written.size() <= MaxOpened;
    const QString question = u"%1 into %2.\n\n%3"_s.arg(
        one ? u"1 message was restored as an email"_s : u"%1 messages were restored as emails"_s.arg(written.size()),
        QDir::toNativeSeparators(folder),
        each ? (one ? u"Open it with your mail program?"_s : u"Open them with your mail program?"_s)
             : u"Open the folder?"_s);
    if (MessageBox::show(this, question, RestoreTitle, MessageBox::YesNo) != MessageBox::Yes)
        return;
    if (!each) {
        m_urlOpener(QUrl::fromLocalFile(folder));
        return;
    }
    for (const QString &path : written)
        m_urlOpener(QUrl::fromLocalFile(path));
}

QStringList SpamReviewTab::saveInto(const QString &folder, const QList<ReviewList::Message> &messages)
{
    const QDir dir(folder);
    QStringList written;
    QStringList errors;
    for (const ReviewList::Message &m : messages) {
        const QByteArray bytes = emailFileBytes(messageBytes(m.id));
        if (bytes.isEmpty()) {
            errors.append(u"The archive copy of \"%1\" cannot be read."_s.arg(m.subject));
            continue;
        }
        const QString name = fileNameFor(m.subject);
        // The name is taken before it is written, so nothing of the user's is replaced.
        QString path = dir.filePath(name + u".eml"_s);
        QFile reserved(path);
        const auto taken = [](const QString &p) { return QFileInfo::exists(p) || QFileInfo(p).isSymLink(); };
        for (int n = 2; !reserved.open(QIODevice::WriteOnly | QIODevice::NewOnly) && taken(path); ++n) {
            path = dir.filePath(u"%1 (%2).eml"_s.arg(name).arg(n));
            reserved.setFileName(path);
        }
        reserved.close();
        QString error;
        if (writeEmail(path, bytes, &error)) {
            written.append(path);
        } else {
            errors.append(error);
            if (QFileInfo(path).size() == 0)
                QFile::remove(path);
        }
    }
    if (!errors.isEmpty())
        Q_EMIT problem(u"%1 of %2 could not be saved. "_s.arg(errors.size()).arg(countOf(messages.size()))
                       + errors.join(u' '));
    return written;
}

QString SpamReviewTab::previewText(const QByteArray &message)
{
    const Scan::MimeText text = Scan::MimeText::decode(message);
    QString out;
    for (const Scan::MimeText::Header &h : text.headers())
        out += h.name + u": "_s + h.value + u'\n';
    out += u'\n' + text.bodyText();
    if (out.size() > MaxPreviewChars)
        out = out.left(MaxPreviewChars) + u"\n\u2026"_s;
    return out;
}

void SpamReviewTab::preview()
{
    const QList<ReviewList::Message> selected = selectedMessages();
    if (selected.isEmpty())
        return;
    const QByteArray bytes = emailFileBytes(messageBytes(selected.first().id));
    if (bytes.isEmpty()) {
        Q_EMIT problem(copyMissing(selected.first()));
        return;
    }
    // Plain text only: nothing is fetched and no script runs.
    auto *dialog = new QDialog(this);
    dialog->setObjectName(u"dlgPreview"_s);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(selected.size() == 1 ? u"Preview"_s
                                                : u"Preview: the first of %1 selected"_s.arg(countOf(selected.size())));
    auto *text = new QPlainTextEdit(previewText(bytes), dialog);
    text->setObjectName(u"txtPreview"_s);
    text->setReadOnly(true);
    auto *close = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
    connect(close, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(dialog);
    layout->addWidget(text);
    layout->addWidget(close);
    dialog->resize(640, 480);
    dialog->open();
}
