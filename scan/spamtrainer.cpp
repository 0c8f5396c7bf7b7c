#include "scan/spamtrainer.h"

#include "config/reviewlist.h"
#include "config/statedatabase.h"
#include "scan/archivewriter.h"
#include "scan/mailfolderreader.h"
#include "scan/spamarchive.h"

#include <QDir>
#include <QFile>
#include <QSet>

using namespace Qt::StringLiterals;

namespace Scan {

SpamTrainer::SpamTrainer(const QString &programFolder, StateDatabase &database)
    : m_folder(programFolder)
    , m_filter(database)
    , m_database(database)
{
}

bool SpamTrainer::open()
{
    if (m_filter.open())
        return true;
    m_error = m_filter.errorText();
    return false;
}

QByteArray SpamTrainer::archivedMessage(const QString &programFolder, const QString &fileName, qint64 maxBytes)
{
    if (fileName.isEmpty() || fileName.contains(u'/') || fileName == u".."_s)
        return {};
    QFile file(SpamArchive::folder(programFolder) + fileName);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxBytes)
        return {};
    const QByteArray bytes = file.readAll();
    const QByteArray prefix = ArchiveWriter::inertPrefix();
    return bytes.startsWith(prefix) ? bytes.mid(prefix.size()) : QByteArray();
}

bool SpamTrainer::flush(QList<LearnedFilter::Example> *batch, int *learned)
{
    if (batch->isEmpty())
        return true;
    if (!m_filter.learn(*batch)) {
        m_error = m_filter.errorText();
        return false;
    }
    *learned += int(batch->size());
    batch->clear();
    return true;
}

int SpamTrainer::learnArchived(const QStringList &fileNames, Label label, JudgedBy judge, const Progress &progress)
{
    QList<LearnedFilter::Example> batch;
    int learned = 0;
    for (const QString &name : fileNames) {
        // A message too large to learn from a folder is too large here too.
        const QByteArray message = archivedMessage(m_folder, name, MailFolderReader::MaxMessageBytes);
        if (message.isEmpty()) {
            ++m_skipped;
            continue;
        }
        if (judge == JudgedBy::Rules) {
            const std::optional<Label> known = m_filter.store().labelOf(LearnedFilter::digest(message));
            if (known && *known != label)
                continue;
        }
        batch.append({message, label});
        if (batch.size() == BatchSize && (!flush(&batch, &learned) || (progress && !progress(learned))))
            return learned;
    }
    flush(&batch, &learned);
    return learned;
}

int SpamTrainer::learnArchive(const Progress &progress)
{
    QSet<QString> passedOver;
    ReviewList review(m_database);
    for (const ReviewList::Message &m : review.all()) {
        if (m.state == ReviewList::State::Kept || m.rule == learnedRule())
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

int SpamTrainer::learnFolder(const QString &path, Label label, const Progress &progress)
{
    MailFolderReader reader(path);
    if (!reader.open()) {
        m_error = reader.errorText();
        return 0;
    }
    QList<LearnedFilter::Example> batch;
    int learned = 0;
    QByteArray message;
    while (reader.next(&message)) {
        batch.append({message, label});
        if (batch.size() < BatchSize)
            continue;
        if (!flush(&batch, &learned) || (progress && !progress(learned)))
            break;
    }
    m_skipped += reader.skipped();
    if (m_error.isEmpty() && !reader.errorText().isEmpty())
        m_error = reader.errorText();
    // What was read before a failed read is still worth learning.
    if (m_error.isEmpty() || !reader.errorText().isEmpty())
        flush(&batch, &learned);
    return learned;
}

} // namespace Scan
