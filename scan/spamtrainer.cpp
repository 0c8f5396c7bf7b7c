#include "scan/spamtrainer.h"

#include "mail/mailfolderreader.h"
#include "scan/archivewriter.h"
#include "scan/spamarchive.h"
#include "state/reviewlist.h"
#include "state/statedatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

using namespace Qt::StringLiterals;

namespace Scan {

SpamTrainer::SpamTrainer(const QString &programFolder, StateDatabase &database)
    : m_folder(programFolder)
    , m_filter(database)
    , m_database(database)
{}

bool SpamTrainer::open()
{
    if (m_filter.open())
        return true;
    m_error = m_filter.errorText();
    return false;
}

void SpamTrainer::setBatchLimits(int messages, qint64 bytes)
{
    m_batchSize = qMax(1, messages);
    m_batchBytes = qMax<qint64>(1, bytes);
}

QByteArray SpamTrainer::archivedMessage(const QString &programFolder, const QString &fileName, qint64 maxBytes)
{
    if (fileName.isEmpty() || fileName.contains(u'/') || fileName == u".."_s)
        return {};
    QFile file(SpamArchive::folder(programFolder) + fileName);
    const QByteArray prefix = ArchiveWriter::inertPrefix();
    if (!file.open(QIODevice::ReadOnly) || file.size() - prefix.size() > maxBytes || file.read(prefix.size()) != prefix)
        return {};
    // Read after the prefix, so the message is held once.
    QByteArray message = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return {};
    return message;
}

qint64 SpamTrainer::archivedSize(const QString &programFolder, const QString &fileName)
{
    if (fileName.isEmpty() || fileName.contains(u'/') || fileName == u".."_s)
        return -1;
    const QFileInfo file(SpamArchive::folder(programFolder) + fileName);
    return file.isFile() ? file.size() - ArchiveWriter::inertPrefix().size() : -1;
}

bool SpamTrainer::flush(Batch *batch)
{
    if (batch->messages.isEmpty())
        return true;
    if (!(batch->forget ? m_filter.unlearn(batch->messages) : m_filter.learn(batch->messages))) {
        m_error = m_filter.errorText();
        return false;
    }
    batch->learned += int(batch->messages.size());
    batch->messages.clear();
    batch->digests.clear();
    batch->bytes = 0;
    return true;
}

bool SpamTrainer::add(Batch *batch, QByteArray message, Label label, JudgedBy judge, const Progress &progress)
{
    const qint64 bytes = message.size();
    const auto stored = [&] {
        if (!flush(batch))
            return false;
        batch->stopped = progress && !progress(batch->learned);
        return !batch->stopped;
    };
    if (!batch->messages.isEmpty() && batch->bytes + bytes > m_batchBytes && !stored())
        return false;
    // What is learned already with this label costs no tokenizing; a long
    // run of it still lets the user stop.
    const QByteArray digest = LearnedFilter::digest(message);
    const bool twice = batch->digests.contains(digest);
    const std::optional<Label> known = twice ? std::nullopt : m_filter.store().labelOf(digest);
    const bool skip = twice || (batch->forget ? !known : known == label || (known && judge == JudgedBy::Rules));
    if (skip) {
        ++(batch->forget ? m_neverLearned : m_known);
        if (++batch->passed < m_batchSize)
            return true;
        batch->passed = 0;
        batch->stopped = progress && !progress(batch->learned);
        return !batch->stopped;
    }
    if (known && !batch->forget)
        ++m_moved;
    LearnedFilter::Prepared prepared =
        LearnedFilter::prepare(std::move(message), known && batch->forget ? *known : label);
    batch->digests.insert(digest);
    batch->messages.append(std::move(prepared));
    batch->bytes += bytes;
    return batch->messages.size() < m_batchSize || stored();
}

int SpamTrainer::learnArchived(const QStringList &fileNames, Label label, JudgedBy judge, const Progress &progress)
{
    // A scan keeps one trainer for all its accounts: one account's failure
    // is not the next one's.
    m_error.clear();
    Batch batch;
    for (const QString &name : fileNames) {
        // A message too large to learn from a folder is too large here too.
        QByteArray message = archivedMessage(m_folder, name, MailFolderReader::MaxMessageBytes);
        if (message.isEmpty()) {
            ++m_skipped;
            continue;
        }
        if (!add(&batch, std::move(message), label, judge, progress))
            break;
    }
    // What was read before a Stop is still worth learning, as from a folder.
    if (m_error.isEmpty())
        flush(&batch);
    return batch.learned;
}

int SpamTrainer::learnArchive(const Progress &progress)
{
    QSet<QString> passedOver;
    ReviewList review(m_database);
    for (const ReviewList::Message &m : review.all()) {
        // Held verdicts wait for the user's word before they are learned.
        if (m.state == ReviewList::State::Kept || m.state == ReviewList::State::Held || m.rule == learnedRule())
            passedOver.insert(m.archiveFile);
    }
    QStringList names;
    const QDir archive(SpamArchive::folder(m_folder));
    for (const QString &name : archive.entryList(QDir::Files, QDir::Name)) {
        if (!passedOver.contains(name))
            names.append(name);
    }
    return learnArchived(names, Label::Spam, JudgedBy::Rules, progress);
}

int SpamTrainer::readFolder(const QString &path, Batch *batch, Label label, const Progress &progress)
{
    MailFolderReader reader(path);
    if (!reader.open()) {
        m_error = reader.errorText();
        return 0;
    }
    QByteArray message;
    while (reader.next(&message)) {
        if (!add(batch, std::move(message), label, JudgedBy::User, progress))
            break;
    }
    m_skipped += reader.skipped();
    m_damaged += reader.damaged();
    if (reader.damaged() > 0) {
        m_damage.append(u"%1: %2 damaged message(s) passed over, the first being %3."_s.arg(path)
                            .arg(reader.damaged())
                            .arg(reader.firstDamage()));
    }
    if (m_error.isEmpty() && !reader.errorText().isEmpty())
        m_error = reader.errorText();
    // What was read before a failed read or a Stop is still worth learning.
    if (m_error.isEmpty() || !reader.errorText().isEmpty())
        flush(batch);
    return batch->learned;
}

int SpamTrainer::learnFolder(const QString &path, Label label, const Progress &progress)
{
    Batch batch;
    return readFolder(path, &batch, label, progress);
}

int SpamTrainer::forgetFolder(const QString &path, const Progress &progress)
{
    Batch batch;
    batch.forget = true;
    return readFolder(path, &batch, Label::Spam, progress);
}

} // namespace Scan
