#pragma once
// Teaches the learned filter from the user's mail: the spam archive (the
// messages the rules condemned, less those the user kept), single archived
// messages the user judged, and mail folders the user already has. Each
// batch is one transaction of the token store. Messages are read one at a
// time and reduced to their tokens at once, so a batch holds no message
// text; it ends at BatchSize messages or before the message that would take
// it past BatchBytes read, so a batch of large messages is short too.

#include "learn/learnedfilter.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <limits>

class StateDatabase;

namespace Scan {

class SpamTrainer final
{
    Q_DISABLE_COPY_MOVE(SpamTrainer)

public:
    using Label = LearnedFilter::Label;
    // Called after every batch with the number learned so far; returning
    // false stops there.
    using Progress = std::function<bool(int learned)>;
    static constexpr int BatchSize = 500;
    static constexpr qint64 BatchBytes = 32 * 1024 * 1024;
    // The rule whose verdicts are not learned back: the filter would only
    // teach itself what it already thinks.
    static QString learnedRule() { return QStringLiteral("learned filter"); }

    SpamTrainer(const QString &programFolder, StateDatabase &database);

    // Loads the filter's counts; errorText() says why not.
    bool open();
    LearnedFilter &filter() { return m_filter; }

    // The archived message without the archive's prefix; empty when it
    // cannot be read, is larger than maxBytes, or the name leads out of the
    // archive.
    static QByteArray archivedMessage(const QString &programFolder, const QString &fileName,
                                      qint64 maxBytes = std::numeric_limits<qint64>::max());
    // The size of an archived message without the prefix; -1 when there is
    // no such file. A name the user freed by deleting its file may be taken
    // by a later message: the size its row recorded tells them apart.
    static qint64 archivedSize(const QString &programFolder, const QString &fileName);

    // Each returns the number of messages learned; errorText() is set when
    // something failed, and the batches stored before it stay learned.

    // Who judged the messages: the user's word moves a message learned with
    // the other label; the rules' verdict never overrides the user's.
    enum class JudgedBy { User, Rules };

    // Archived messages by file name, all with one label; errorText() tells
    // of this call only.
    int learnArchived(const QStringList &fileNames, Label label, JudgedBy judge, const Progress &progress = {});
    // Every archived message as spam, except those the user said were not
    // spam, those still held for the user's word and those only this filter
    // condemned.
    int learnArchive(const Progress &progress = {});
    // The messages of an mbox file or a Maildir folder.
    int learnFolder(const QString &path, Label label, const Progress &progress = {});
    // Takes the messages of a folder back out of what was learned, each
    // with the label it was learned with; returns how many were.
    int forgetFolder(const QString &path, const Progress &progress = {});

    // Over every call: messages already learned with the label asked for
    // (learned again they would count once anyway), learned messages moved
    // to the other label, and messages to forget that were never learned.
    int alreadyKnown() const { return m_known; }
    int moved() const { return m_moved; }
    int neverLearned() const { return m_neverLearned; }
    // Messages passed over: unreadable, damaged, or too large to learn.
    int skipped() const { return m_skipped; }
    // Of those, damaged ones; and one line per folder that held any, saying
    // where.
    int damaged() const { return m_damaged; }
    QStringList damage() const { return m_damage; }
    QString errorText() const { return m_error; }

    // Other bounds than BatchSize and BatchBytes (for tests).
    void setBatchLimits(int messages, qint64 bytes);

private:
    struct Batch
    {
        QList<LearnedFilter::Prepared> messages;
        qint64 bytes = 0;
        int learned = 0;
        int passed = 0; // known messages met since the last progress call
        bool forget = false;
        bool stopped = false; // by the progress callback
        QSet<QByteArray> digests;
    };
    // Adds one message, storing the batch first when the message would
    // take it past the byte budget and after when it is full; false once
    // storing failed or the progress callback said stop.
    bool add(Batch *batch, QByteArray message, Label label, JudgedBy judge, const Progress &progress);
    bool flush(Batch *batch);

    QString m_folder;
    LearnedFilter m_filter;
    StateDatabase &m_database;
    int m_batchSize = BatchSize;
    qint64 m_batchBytes = BatchBytes;
    int readFolder(const QString &path, Batch *batch, Label label, const Progress &progress);

    int m_skipped = 0;
    int m_known = 0;
    int m_moved = 0;
    int m_neverLearned = 0;
    int m_damaged = 0;
    QStringList m_damage;
    QString m_error;
};

} // namespace Scan
