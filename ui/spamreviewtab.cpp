#include "ui/spamreviewtab.h"

#include "state/reviewlist.h"
#include "state/statedatabase.h"
#include "platform/messagebox/messagebox.h"
#include "mail/mimetext.h"
#include "scan/spamtrainer.h"
#include "ui/senderaddress.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {

// The message id of a row lives in its first cell.
constexpr int IdRole = Qt::UserRole + 1;
constexpr qsizetype MaxPreviewChars = 200000;
const QString WhitelistTitle = u"Whitelist"_s;

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
    , m_view(new QTableView(this))
    , m_alsoWhitelist(new QCheckBox(u"Also add the sender to the whitelist"_s, this))
{
    setObjectName(u"tabSpam"_s);
    m_model->setHorizontalHeaderLabels({u"Date"_s, u"Sender"_s, u"Subject"_s, u"Size"_s, u"Account"_s, u"Rule"_s,
                                        u"Entry"_s, u"Found in"_s, u"State"_s});
    m_view->setObjectName(u"gridSpam"_s);
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_alsoWhitelist->setObjectName(u"checkAlsoWhitelist"_s);

    QPushButton *remove = button(this, u"cmdDeleteFromServer"_s, u"Delete from server"_s);
    QPushButton *keep = button(this, u"cmdNotSpam"_s, u"Not spam"_s);
    QPushButton *spam = button(this, u"cmdSpam"_s, u"Spam"_s);
    spam->setToolTip(u"Confirms the verdict: the learned filter learns the message as spam."_s);
    QPushButton *save = button(this, u"cmdSaveAsEmail"_s, u"Save as email\u2026"_s);
    QPushButton *show = button(this, u"cmdPreview"_s, u"Preview"_s);
    connect(remove, &QPushButton::clicked, this, &SpamReviewTab::deleteFromServer);
    connect(keep, &QPushButton::clicked, this, &SpamReviewTab::notSpam);
    connect(spam, &QPushButton::clicked, this, &SpamReviewTab::markSpam);
    connect(save, &QPushButton::clicked, this, &SpamReviewTab::saveAsEmail);
    connect(show, &QPushButton::clicked, this, &SpamReviewTab::preview);
    connect(m_view, &QTableView::doubleClicked, this, &SpamReviewTab::preview);

    auto *buttons = new QHBoxLayout;
    for (QWidget *w : {static_cast<QWidget *>(remove), static_cast<QWidget *>(keep),
                       static_cast<QWidget *>(m_alsoWhitelist), static_cast<QWidget *>(spam),
                       static_cast<QWidget *>(save),
                       static_cast<QWidget *>(show)})
        buttons->addWidget(w);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view);
    layout->addLayout(buttons);

    m_chooser = [this](const QString &suggested) {
        return QFileDialog::getSaveFileName(this, u"Save as email"_s, suggested, u"Email (*.eml)"_s);
    };
}

SpamReviewTab::~SpamReviewTab() = default;

void SpamReviewTab::setSaveFileChooser(std::function<QString(const QString &)> chooser)
{
    m_chooser = std::move(chooser);
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
        QString date = m.sent.isEmpty() ? locale.toString(m.judged.toLocalTime(), QLocale::ShortFormat) : m.sent;
        if (m.sent == MissingHeader)
            date.clear();
        for (const QString &text : QStringList{date, m.sender, m.subject, locale.formattedDataSize(m.size),
                                               m.login + u'@' + m.server, m.rule, m.entry, m.matchedIn,
                                               ReviewList::stateText(m.state)})
            cells.append(new QStandardItem(text));
        cells.at(0)->setData(m.id, IdRole);
        m_model->appendRow(cells);
        if (selected.contains(m.id))
            m_view->selectionModel()->select(m_model->index(m_model->rowCount() - 1, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

QList<qint64> SpamReviewTab::selectedRows() const
{
    QList<qint64> ids;
    if (!m_view->selectionModel())
        return ids;
    for (const QModelIndex &index : m_view->selectionModel()->selectedRows())
        ids.append(m_model->item(index.row(), 0)->data(IdRole).toLongLong());
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
    for (const ReviewList::Message &m : messages) {
        if (m.state == ReviewList::State::Held || m.state == ReviewList::State::Kept) {
            onServer.append(m.id);
            confirmed.append(m);
        }
    }
    if (!list.setState(onServer, ReviewList::State::DeleteRequested))
        Q_EMIT problem(list.errorText());
    else
        learn(confirmed, true); // the user's word: spam
    refresh();
}

void SpamReviewTab::notSpam()
{
    const QList<ReviewList::Message> messages = selectedMessages();
    if (messages.isEmpty())
        return;
    ReviewList list(*m_database);
    QList<qint64> onServer;
    QStringList asked;
    for (const ReviewList::Message &m : messages) {
        if (m_alsoWhitelist->isChecked())
            offerWhitelistEntry(m.sender, &asked);
        // A deleted message has nothing left to keep; its archive copy can still be saved.
        if (m.state != ReviewList::State::Deleted && m.state != ReviewList::State::Gone)
            onServer.append(m.id);
    }
    if (!list.markNotSpam(onServer))
        Q_EMIT problem(list.errorText());
    learn(messages, false);
    refresh();
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
    learn(selectedMessages(), true);
}

void SpamReviewTab::learn(const QList<ReviewList::Message> &messages, bool spam)
{
    if (messages.isEmpty())
        return;
    QStringList files;
    for (const ReviewList::Message &m : messages)
        files.append(m.archiveFile);
    Scan::SpamTrainer trainer(m_folder, *m_database);
    if (trainer.open())
        trainer.learnArchived(files, spam ? Scan::LearnedFilter::Label::Spam : Scan::LearnedFilter::Label::Ham,
                              Scan::SpamTrainer::JudgedBy::User);
    if (!trainer.errorText().isEmpty())
        Q_EMIT problem(u"The learned filter could not learn this: "_s + trainer.errorText());
    else if (trainer.skipped() > 0)
        Q_EMIT problem(u"The archive copy of %1 message(s) cannot be read; the learned filter did not learn them."_s
                           .arg(trainer.skipped()));
    Q_EMIT learned();
}

QByteArray SpamReviewTab::messageBytes(qint64 row) const
{
    if (!m_database)
        return {};
    const std::optional<ReviewList::Message> m = ReviewList(*m_database).byId(row);
    return m ? Scan::SpamTrainer::archivedMessage(m_folder, m->archiveFile) : QByteArray();
}

QByteArray SpamReviewTab::selectedMessage()
{
    const QList<qint64> ids = selectedRows();
    if (ids.size() != 1 || !database())
        return {};
    const QByteArray bytes = messageBytes(ids.first());
    if (bytes.isEmpty())
        Q_EMIT problem(u"The archive copy of this message cannot be read."_s);
    return bytes;
}

void SpamReviewTab::saveAsEmail()
{
    const QByteArray bytes = emailFileBytes(selectedMessage());
    if (bytes.isEmpty())
        return;
    const QString path = m_chooser(QString());
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        Q_EMIT problem(u"Cannot save "_s + path + u": "_s + file.errorString());
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
    const QByteArray bytes = emailFileBytes(selectedMessage());
    if (bytes.isEmpty())
        return;
    // Plain text only: nothing is fetched and no script runs.
    auto *dialog = new QDialog(this);
    dialog->setObjectName(u"dlgPreview"_s);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(u"Preview"_s);
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
