// What training and the token store cost in memory, disk and time:
//  - peak memory growth while "Learn from spam archive" and "Train from
//    folder" (an mbox) learn 16 messages of nearly 32 MB each;
//  - a store of 10,000 learned messages (the corpus once, then its spam
//    again with 500 words of its own each, as a spammer's random words
//    would): its rows and disk size, what opening it and classifying the
//    first message cost a fresh process, beside what reading the whole
//    store would cost, and messages classified per second.
// Each measured step runs in a child process of its own, so that one step's
// peak memory does not hide the next one's.
//
// bench_learn_store --data DIR [--output FILE]
//   DIR holds the corpus sets as folders of one message per file.

#include "bench/benchsupport.h"
#include "bench/corpusfiles.h"
#include "learn/learnedfilter.h"
#include "mail/mailfolderreader.h"
#include "scan/archivewriter.h"
#include "scan/spamarchive.h"
#include "scan/spamtrainer.h"
#include "state/statedatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;
using Corpus::readFile;
using Corpus::setFiles;
using Corpus::withoutEnvelope;
using Scan::LearnedFilter;

namespace {

const QString SectionTitle = u"## Learned filter: training memory and the token store"_s;
constexpr int LargeMessages = 16;
// Just under the largest message learned, so that all of them are learned.
constexpr qint64 LargeBytes = Scan::MailFolderReader::MaxMessageBytes - 64 * 1024;
constexpr int StoreMessages = 10000;
constexpr int RandomWords = 500;
// The fixed part of the memory bound: the batch's tokens, the decoder's caps
// and the libraries' own buffers.
constexpr double FixedBudgetMb = 64.0;

void note(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

QByteArray randomWord(QRandomGenerator &random)
{
    QByteArray word;
    const int length = 5 + int(random.bounded(8));
    for (int i = 0; i < length; ++i)
        word += char('a' + random.bounded(26));
    return word;
}

// Lines of up to 76 characters from `next` until the text is `bytes` long.
QByteArray filled(qint64 bytes, const std::function<QByteArray()> &next)
{
    QByteArray text;
    text.reserve(bytes);
    QByteArray line;
    while (text.size() < bytes) {
        const QByteArray piece = next();
        if (line.size() + piece.size() + 1 > 76) {
            text += line + "\r\n";
            line.clear();
        }
        line += (line.isEmpty() ? "" : " ") + piece;
    }
    text.truncate(bytes);
    return text;
}

// Four kinds of large message in turn: plain words, HTML, a base64
// attachment, and lines of words never seen before.
QByteArray largeMessage(int index)
{
    QRandomGenerator random(quint32(1000 + index));
    static const QList<QByteArray> common = {"offer", "money", "free",    "click", "today",  "price",  "order", "best",
                                             "deal",  "save",  "limited", "bonus", "winner", "credit", "cheap"};
    const QByteArray head = "From: seller" + QByteArray::number(index)
                            + "@example.com\r\nTo: you@example.org\r\n"
                              "Subject: Large offer "
                            + QByteArray::number(index) + "\r\nMIME-Version: 1.0\r\n";
    const qint64 room = LargeBytes - 1024;
    switch (index % 4) {
    case 0:
        return head + "Content-Type: text/plain; charset=us-ascii\r\n\r\n"
               + filled(room, [&] { return common.at(int(random.bounded(common.size()))); }) + "\r\n";
    case 1:
        return head + "Content-Type: text/html; charset=us-ascii\r\n\r\n<html><body>"
               + filled(room,
                        [&]() -> QByteArray {
                            return "<p><a href=\"http://shop" + QByteArray::number(random.bounded(50))
                                   + ".example.com/\">" + common.at(int(random.bounded(common.size()))) + "</a></p>";
                        })
               + "</body></html>\r\n";
    case 2: {
        // Base64 in lines of 76 with CR LF: 78 bytes for every 57 raw ones.
        QByteArray raw(room / 78 * 57, Qt::Uninitialized);
        for (qsizetype i = 0; i < raw.size(); ++i)
            raw[i] = char(random.bounded(256));
        const QByteArray base64 = raw.toBase64();
        QByteArray wrapped;
        wrapped.reserve(base64.size() + base64.size() / 38);
        for (qsizetype i = 0; i < base64.size(); i += 76)
            wrapped += base64.mid(i, 76) + "\r\n";
        return head
               + "Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n--b1\r\n"
                 "Content-Type: text/plain\r\n\r\nSee the attached offer.\r\n--b1\r\n"
                 "Content-Type: application/octet-stream; name=\"offer.bin\"\r\n"
                 "Content-Transfer-Encoding: base64\r\n\r\n"
               + wrapped + "--b1--\r\n";
    }
    default:
        return head + "Content-Type: text/plain; charset=us-ascii\r\n\r\n"
               + filled(room, [&] { return randomWord(random); }) + "\r\n";
    }
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// ---- child steps: each prints one result line ----

int childTrain(const QString &folder, const QString &mbox)
{
    StateDatabase db(folder);
    if (!db.open()) {
        note(db.errorText());
        return 1;
    }
    Scan::SpamTrainer trainer(folder, db);
    if (!trainer.open()) {
        note(trainer.errorText());
        return 1;
    }
    const long rssBefore = Bench::currentRssKb();
    QElapsedTimer clock;
    clock.start();
    int batches = 0;
    const auto progress = [&](int) {
        ++batches;
        return true;
    };
    const int learned = mbox.isEmpty() ? trainer.learnArchive(progress)
                                       : trainer.learnFolder(mbox, LearnedFilter::Label::Spam, progress);
    const double seconds = clock.nsecsElapsed() / 1e9;
    if (!trainer.errorText().isEmpty())
        note(trainer.errorText());
    Bench::printResult({{"learned", learned},
                        {"skipped", trainer.skipped()},
                        {"batches", batches + 1},
                        {"seconds", seconds},
                        {"peak_growth_kb", double(qMax(0L, Bench::peakRssKb() - rssBefore))}});
    return 0;
}

// What a scan pays before and at its first message: open the filter, then
// classify one message.
int childOpen(const QString &folder, const QString &message)
{
    const QByteArray bytes = readFile(message);
    const long rssBefore = Bench::currentRssKb();
    QElapsedTimer clock;
    clock.start();
    StateDatabase db(folder);
    LearnedFilter filter(db);
    if (!db.open() || !filter.open()) {
        note(db.errorText() + filter.errorText());
        return 1;
    }
    const double openSeconds = clock.nsecsElapsed() / 1e9;
    const long rssOpen = Bench::currentRssKb();
    clock.restart();
    const double score = filter.classify(bytes).score;
    const double firstSeconds = clock.nsecsElapsed() / 1e9;
    Bench::printResult({{"open_s", openSeconds},
                        {"first_s", firstSeconds},
                        {"score", score},
                        {"open_growth_kb", double(qMax(0L, rssOpen - rssBefore))},
                        {"peak_growth_kb", double(qMax(0L, Bench::peakRssKb() - rssBefore))}});
    return 0;
}

// Reading every count into memory, as the scan did before it looked tokens
// up by message: the reference for the figures above.
int childLoadAll(const QString &folder)
{
    const long rssBefore = Bench::currentRssKb();
    QElapsedTimer clock;
    clock.start();
    StateDatabase db(folder);
    if (!db.open())
        return 1;
    QHash<quint64, Scan::TokenStore::Counts> counts;
    QHash<QByteArray, int> messages;
    {
        QSqlQuery q(db.connection());
        q.setForwardOnly(true);
        if (!q.exec(u"SELECT id, spam, ham FROM learned_tokens"_s))
            return 1;
        while (q.next())
            counts.insert(quint64(q.value(0).toLongLong()),
                          {quint32(q.value(1).toLongLong()), quint32(q.value(2).toLongLong())});
        if (!q.exec(u"SELECT digest, label FROM learned_messages"_s))
            return 1;
        while (q.next())
            messages.insert(q.value(0).toByteArray(), q.value(1).toInt());
    }
    Bench::printResult({{"load_s", clock.nsecsElapsed() / 1e9},
                        {"tokens", double(counts.size())},
                        {"growth_kb", double(qMax(0L, Bench::currentRssKb() - rssBefore))}});
    return 0;
}

int childClassify(const QString &folder, const QString &list)
{
    QStringList files = QString::fromUtf8(readFile(list)).split(u'\n', Qt::SkipEmptyParts);
    QList<QByteArray> messages;
    for (const QString &f : files)
        messages << readFile(f);
    StateDatabase db(folder);
    LearnedFilter filter(db);
    if (!db.open() || !filter.open())
        return 1;
    QElapsedTimer clock;
    clock.start();
    const double cpu = Bench::cpuSeconds();
    double sum = 0;
    for (const QByteArray &m : std::as_const(messages))
        sum += filter.classify(m).score;
    Bench::printResult({{"rate", double(messages.size()) / (clock.nsecsElapsed() / 1e9)},
                        {"cpu_rate", double(messages.size()) / qMax(1e-6, Bench::cpuSeconds() - cpu)},
                        {"sum", sum}});
    return 0;
}

// ---- the parent ----

struct Result
{
    QHash<QString, double> values;
    bool ok = false;
};

Result runChild(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), args);
    Result r;
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        note(u"step failed: "_s + args.join(u' '));
        return r;
    }
    const QList<QByteArray> lines = p.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.startsWith("result "))
            continue;
        for (const QByteArray &pair : line.mid(7).split(' ')) {
            const qsizetype eq = pair.indexOf('=');
            if (eq > 0)
                r.values.insert(QString::fromLatin1(pair.left(eq)), pair.mid(eq + 1).toDouble());
        }
        r.ok = true;
    }
    return r;
}

QString mb(double kb) { return QString::number(kb / 1024.0, 'f', 1); }

qint64 storeBytes(const QString &folder)
{
    qint64 total = 0;
    for (const QString &suffix : {u""_s, u"-wal"_s})
        total += QFileInfo(QDir(folder).filePath(StateDatabase::fileName() + suffix)).size();
    return total;
}

int parent(const QString &data, const QString &output)
{
    QElapsedTimer total;
    total.start();
    QTemporaryDir work;
    QString t;

    // Training memory.
    note(u"writing 16 large messages..."_s);
    const QString archiveFolder = work.filePath(u"archive"_s);
    QDir().mkpath(Scan::SpamArchive::folder(archiveFolder));
    const QString mbox = work.filePath(u"large.mbox"_s);
    QFile mboxFile(mbox);
    if (!mboxFile.open(QIODevice::WriteOnly)) {
        note(u"cannot write "_s + mbox);
        return 1;
    }
    qint64 largest = 0;
    for (int i = 0; i < LargeMessages; ++i) {
        const QByteArray message = largeMessage(i);
        largest = qMax<qint64>(largest, message.size());
        const QString file = Scan::SpamArchive::folder(archiveFolder) + u"large%1.eml"_s.arg(i);
        if (!writeFile(file, Scan::ArchiveWriter::inertPrefix() + message)) {
            note(u"cannot write "_s + file);
            return 1;
        }
        mboxFile.write("From seller@example.com Mon Dec  7 10:00:00 2026\n");
        mboxFile.write(message);
        mboxFile.write("\n");
    }
    mboxFile.close();
    const double boundMb = 2.0 * double(largest) / 1048576.0 + FixedBudgetMb;
    t += u"Peak memory growth while learning %1 messages of %2 MB each (bound: twice the largest message + %3 MB "
         "= %4 MB):\n\n| Training | Learned | Batches | Time (s) | Peak memory growth (MB) | Within bound |\n"
         "|---|---:|---:|---:|---:|---|\n"_s.arg(LargeMessages)
             .arg(double(largest) / 1048576.0, 0, 'f', 1)
             .arg(FixedBudgetMb)
             .arg(boundMb, 0, 'f', 0);
    for (const auto &[name, args] :
         QList<QPair<QString, QStringList>>{{u"Learn from spam archive"_s, {u"--child"_s, u"train"_s, archiveFolder}},
                                            {u"Train from folder (one mbox file)"_s,
                                             {u"--child"_s, u"train"_s, work.filePath(u"mboxstate"_s), mbox}}}) {
        QDir().mkpath(args.at(2));
        note(u"learning: "_s + name + u"..."_s);
        const Result r = runChild(args);
        if (!r.ok)
            return 1;
        const double growth = r.values.value(u"peak_growth_kb"_s);
        t += u"| %1 | %2 | %3 | %4 | %5 | %6 |\n"_s.arg(name)
                 .arg(r.values.value(u"learned"_s))
                 .arg(r.values.value(u"batches"_s))
                 .arg(r.values.value(u"seconds"_s), 0, 'f', 1)
                 .arg(mb(growth))
                 .arg(growth / 1024.0 <= boundMb ? u"yes"_s : u"**no**"_s);
    }
    QFile::remove(mbox);
    QDir(archiveFolder).removeRecursively();

    // A store of 10,000 learned messages.
    note(u"learning 10,000 messages..."_s);
    QStringList corpus;
    QStringList spam;
    for (const QString &set : {u"spam-1"_s, u"spam-2"_s, u"easy-ham-1"_s, u"easy-ham-2"_s, u"hard-ham-1"_s}) {
        const QStringList files = setFiles(data, set);
        if (files.isEmpty()) {
            note(u"no messages in "_s + set + u" under "_s + data);
            return 1;
        }
        corpus += files;
        if (set.startsWith(u"spam"_s))
            spam += files;
    }
    const QString storeFolder = work.filePath(u"store"_s);
    QDir().mkpath(storeFolder);
    double trainSeconds = 0;
    qint64 pruned = 0;
    int prunings = 0;
    {
        StateDatabase db(storeFolder);
        LearnedFilter filter(db);
        if (!db.open() || !filter.open())
            return 1;
        QRandomGenerator random(20261208);
        QList<LearnedFilter::Prepared> batch;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < StoreMessages; ++i) {
            const bool again = i >= corpus.size();
            const QString file = again ? spam.at((i - corpus.size()) % spam.size()) : corpus.at(i);
            QByteArray message = withoutEnvelope(readFile(file));
            if (again) {
                QByteArray words;
                for (int w = 0; w < RandomWords; ++w)
                    words += randomWord(random) + (w % 10 == 9 ? "\n" : " ");
                message = "X-Copy: " + QByteArray::number(i) + '\n' + message + '\n' + words;
            }
            const bool isSpam = again || file.contains(u"/spam-"_s);
            batch.append(
                LearnedFilter::prepare(message, isSpam ? LearnedFilter::Label::Spam : LearnedFilter::Label::Ham));
            if (batch.size() == Scan::SpamTrainer::BatchSize || i + 1 == StoreMessages) {
                if (!filter.learn(batch)) {
                    note(filter.errorText());
                    return 1;
                }
                if (filter.store().pruned() > 0) {
                    pruned += filter.store().pruned();
                    ++prunings;
                }
                batch.clear();
            }
        }
        trainSeconds = clock.nsecsElapsed() / 1e9;
        QSqlQuery q(db.connection());
        q.exec(u"PRAGMA wal_checkpoint(TRUNCATE)"_s);
        const qint64 rows = filter.store().tokenCount();
        t += u"\nA store of %1 learned messages (%2 spam, %3 ham): the corpus once (%4), then its spam again, "
             "each copy with %5 random words of its own. %6 token rows (bound %7; %8 prunings removed %9 rows), "
             "%10 MB on disk (%11 bytes per learned message); learned in %12 s in batches of %13.\n\n"_s
                 .arg(StoreMessages)
                 .arg(filter.spamMessages())
                 .arg(filter.hamMessages())
                 .arg(corpus.size())
                 .arg(RandomWords)
                 .arg(rows)
                 .arg(filter.store().maxTokens())
                 .arg(prunings)
                 .arg(pruned)
                 .arg(double(storeBytes(storeFolder)) / 1048576.0, 0, 'f', 1)
                 .arg(storeBytes(storeFolder) / StoreMessages)
                 .arg(trainSeconds, 0, 'f', 1)
                 .arg(Scan::SpamTrainer::BatchSize);
    }

    // The test messages of bench/learned.sh, classified against the store.
    const QStringList test = setFiles(data, u"spam-2"_s) + setFiles(data, u"easy-ham-2"_s);
    const QString list = work.filePath(u"test.list"_s);
    if (!writeFile(list, test.join(u'\n').toUtf8()))
        return 1;
    note(u"opening and classifying..."_s);
    QList<double> open, first, openGrowth, peakGrowth, loadAll, loadGrowth, rates, cpuRates;
    for (int run = 0; run < 3; ++run) {
        const Result o = runChild({u"--child"_s, u"open"_s, storeFolder, test.first()});
        const Result l = runChild({u"--child"_s, u"load-all"_s, storeFolder});
        const Result c = runChild({u"--child"_s, u"classify"_s, storeFolder, list});
        if (!o.ok || !l.ok || !c.ok)
            return 1;
        open << o.values.value(u"open_s"_s) * 1000.0;
        first << o.values.value(u"first_s"_s) * 1000.0;
        openGrowth << o.values.value(u"open_growth_kb"_s);
        peakGrowth << o.values.value(u"peak_growth_kb"_s);
        loadAll << l.values.value(u"load_s"_s) * 1000.0;
        loadGrowth << l.values.value(u"growth_kb"_s);
        rates << c.values.value(u"rate"_s);
        cpuRates << c.values.value(u"cpu_rate"_s);
    }
    const auto median = [](QList<double> v) {
        std::sort(v.begin(), v.end());
        return v.at(v.size() / 2);
    };
    t += u"| Measure (store of %1 messages, medians of 3 fresh processes) | Value |\n|---|---:|\n"_s.arg(StoreMessages);
    t += u"| Opening the filter, as a scan does before its first message (ms) | %1 |\n"_s.arg(median(open), 0, 'f', 1);
    t += u"| Memory growth of opening it (MB) | %1 |\n"_s.arg(mb(median(openGrowth)));
    t += u"| Classifying the first message after opening (ms) | %1 |\n"_s.arg(median(first), 0, 'f', 1);
    t += u"| Peak memory growth, opening and first message (MB) | %1 |\n"_s.arg(mb(median(peakGrowth)));
    t += u"| For reference: reading the whole store into memory (ms) | %1 |\n"_s.arg(median(loadAll), 0, 'f', 0);
    t += u"| For reference: memory growth of reading the whole store (MB) | %1 |\n"_s.arg(mb(median(loadGrowth)));
    t += u"| Messages classified per second of CPU (%1 test messages of bench/learned.sh) | %2 |\n"_s.arg(test.size())
             .arg(median(cpuRates), 0, 'f', 0);
    t += u"| Messages classified per second of wall time | %1 |\n"_s.arg(median(rates), 0, 'f', 0);
    t += u"\nA scan of an empty mailbox opens the filter and classifies nothing.\n"_s;

    const QString section = SectionTitle
                            + u"\n\nRun %1 on %2 cores, %3; whole run %4 s.\n\n"_s
                                  .arg(QDateTime::currentDateTimeUtc().toString(u"yyyy-MM-dd HH:mm 'UTC'"_s))
                                  .arg(QThread::idealThreadCount())
                                  .arg(QSysInfo::prettyProductName())
                                  .arg(total.elapsed() / 1000)
                            + t;
    std::printf("%s", qPrintable(section));
    if (!output.isEmpty() && !Corpus::writeSection(output, SectionTitle, section)) {
        note(u"cannot write "_s + output);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args.at(1) == u"--child"_s) {
        const QString step = args.at(2);
        if (step == u"train"_s)
            return childTrain(args.at(3), args.value(4));
        if (step == u"open"_s && args.size() == 5)
            return childOpen(args.at(3), args.at(4));
        if (step == u"load-all"_s)
            return childLoadAll(args.at(3));
        if (step == u"classify"_s && args.size() == 5)
            return childClassify(args.at(3), args.at(4));
        return 2;
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Training memory and the learned filter's token store."_s);
    parser.addHelpOption();
    const QCommandLineOption dataOption(u"data"_s, u"folder of the corpus sets"_s, u"dir"_s);
    const QCommandLineOption outputOption(u"output"_s, u"also write the section to this file"_s, u"file"_s);
    parser.addOptions({dataOption, outputOption});
    parser.process(app);
    if (!parser.isSet(dataOption)) {
        note(u"--data is required"_s);
        return 2;
    }
    return parent(parser.value(dataOption), parser.value(outputOption));
}
