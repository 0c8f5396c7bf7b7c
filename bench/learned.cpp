// Effectiveness of the learned filter on real mail, side by side with
// bogofilter on exactly the same files in the same run: trained on spam-1,
// easy-ham-1 and the first half of hard-ham-1, tested on spam-2, easy-ham-2
// and the second half of hard-ham-1. Also counts what a fixed keyword list
// catches on the raw text and on the raw or decoded text.
//
// bench_learned --data DIR [--bogofilter PROGRAM] [--runs N] [--output FILE]
//   DIR holds the corpus sets as folders of one message per file.

#include "bench/corpusfiles.h"
#include "learn/learnedfilter.h"
#include "mail/mimetext.h"
#include "scan/decodedmessage.h"
#include "scan/keywordmatcher.h"
#include "scan/servertext.h"
#include "state/statedatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSaveFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;
using Corpus::readFile;
using Corpus::setFiles;
using Corpus::withoutEnvelope;
using Scan::LearnedFilter;
using Scan::MimeText;

namespace {

constexpr int BatchSize = 500;
constexpr double MaxHamCondemned = 0.005;
const QString SectionTitle = u"## Learned filter and decoded text"_s;

// Written as a user would (whole phrases, the usual suspects), and three a
// reader of Chinese or Japanese mail would add: "free", "opportunity" and the
// label Japanese law puts on unsolicited advertising. Those only ever arrive
// in encoded subjects and bodies.
const QStringList Keywords = {
    u"viagra"_s,        u"mortgage"_s,   u"casino"_s,       u"lottery"_s,      u"weight loss"_s,
    u"make money"_s,    u"click here"_s, u"act now"_s,      u"limited time"_s, u"100% free"_s,
    u"no obligation"_s, u"winner"_s,     u"\u514d\u8cbb"_s, u"\u6a5f\u6703"_s, u"\u672a\u627f\u8afe\u5e83\u544a"_s};

struct Message
{
    QString path; // the copy both filters read
    bool spam = false;
    QString source;
};

struct Scores
{
    QList<double> spam;
    QList<double> ham;
};

struct OperatingPoint
{
    double caught = 0; // fraction of test spam above the threshold
    double threshold = 0;
};

void note(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

QString cpuModel()
{
    QFile cpuinfo(u"/proc/cpuinfo"_s);
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = cpuinfo.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("model name"))
                return QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
        }
    }
    return QSysInfo::currentCpuArchitecture();
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

OperatingPoint operatingPoint(const Scores &s, double maxHamFraction)
{
    QList<double> ham = s.ham;
    std::sort(ham.begin(), ham.end(), std::greater<double>());
    const qsizetype allowed = qsizetype(std::floor(maxHamFraction * double(ham.size()) + 1e-9));
    const double threshold = allowed < ham.size() ? ham.at(allowed) : -1.0;
    const auto caught = std::count_if(s.spam.cbegin(), s.spam.cend(), [&](double v) { return v > threshold; });
    return {double(caught) / double(qMax<qsizetype>(1, s.spam.size())), threshold};
}

qsizetype above(const QList<double> &scores, double threshold)
{
    return std::count_if(scores.cbegin(), scores.cend(), [&](double v) { return v > threshold; });
}

// CPU seconds (user and system) of this process or of its waited-for children.
double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString percent(double fraction, int decimals = 1)
{
    return QString::number(fraction * 100.0, 'f', decimals) + u" %"_s;
}

class Bench
{
public:
    Bench(const QString &bogofilter, int runs)
        : m_bogofilter(bogofilter)
        , m_runs(runs)
    {}

    bool prepare(const QString &data);
    bool runOurs(const QString &details);
    bool runBogofilter();
    void keywords();
    QString table() const;
    QString split() const { return m_split; }

private:
    void writeDetails(const LearnedFilter &filter, const QString &file) const;
    bool trainOurs(const QString &folder, LearnedFilter **filter, StateDatabase **db, double *seconds);
    bool bogofilterRun(const QStringList &args, const QList<Message> &messages, QByteArray *out, double *seconds);

    QString m_bogofilter;
    int m_runs;
    QTemporaryDir m_work;
    QList<Message> m_train;
    QList<Message> m_test;
    QString m_split;

    Scores m_ours;
    Scores m_peer;
    double m_oursTrain = 0, m_peerTrain = 0, m_oursRate = 0, m_peerRate = 0;
    // Per second of CPU: on a shared machine the fair comparison.
    double m_oursCpuRate = 0, m_peerCpuRate = 0;
    QString m_peerVersion;

    // Keyword rule: test messages caught on raw text, on raw or decoded text.
    qsizetype m_rawSpam = 0, m_rawHam = 0, m_bothSpam = 0, m_bothHam = 0;
    qsizetype m_corpusRaw = 0, m_corpusBoth = 0, m_corpusLost = 0;
    qsizetype m_encodedSubjects = 0, m_encodedSubjectHits = 0, m_encodedSubjectCaught = 0;
};

bool Bench::prepare(const QString &data)
{
    const QStringList hard = setFiles(data, u"hard-ham-1"_s);
    const qsizetype half = hard.size() / 2;
    struct Part
    {
        QString set;
        QStringList files;
        bool spam;
        bool train;
    };
    const QList<Part> parts = {
        {u"spam-1"_s, setFiles(data, u"spam-1"_s), true, true},
        {u"easy-ham-1"_s, setFiles(data, u"easy-ham-1"_s), false, true},
        {u"hard-ham-1 (first half)"_s, hard.mid(0, half), false, true},
        {u"spam-2"_s, setFiles(data, u"spam-2"_s), true, false},
        {u"easy-ham-2"_s, setFiles(data, u"easy-ham-2"_s), false, false},
        {u"hard-ham-1 (second half)"_s, hard.mid(half), false, false},
    };
    QStringList trainText, testText;
    int n = 0;
    for (const Part &part : parts) {
        if (part.files.isEmpty()) {
            note(u"no messages in "_s + part.set + u" under "_s + data);
            return false;
        }
        (part.train ? trainText : testText) << u"%1 (%2)"_s.arg(part.set).arg(part.files.size());
        for (const QString &file : part.files) {
            const QString copy = m_work.filePath(u"%1.eml"_s.arg(++n, 5, 10, QChar(u'0')));
            QFile out(copy);
            if (!out.open(QIODevice::WriteOnly) || out.write(withoutEnvelope(readFile(file))) < 0) {
                note(u"cannot write "_s + copy);
                return false;
            }
            (part.train ? m_train : m_test).append({copy, part.spam, file});
        }
    }
    m_split = u"trained on "_s + trainText.join(u" + "_s) + u" = %1 messages; tested on "_s.arg(m_train.size())
              + testText.join(u" + "_s) + u" = %1 messages"_s.arg(m_test.size());
    return true;
}

bool Bench::trainOurs(const QString &folder, LearnedFilter **filter, StateDatabase **db, double *seconds)
{
    QDir().mkpath(folder);
    QElapsedTimer clock;
    clock.start();
    *db = new StateDatabase(folder);
    if (!(*db)->open()) {
        note((*db)->errorText());
        return false;
    }
    *filter = new LearnedFilter(**db);
    if (!(*filter)->open())
        return false;
    QList<LearnedFilter::Example> batch;
    for (qsizetype i = 0; i < m_train.size(); ++i) {
        batch.append({readFile(m_train.at(i).path),
                      m_train.at(i).spam ? LearnedFilter::Label::Spam : LearnedFilter::Label::Ham});
        if (batch.size() == BatchSize || i + 1 == m_train.size()) {
            if (!(*filter)->learn(batch)) {
                note((*filter)->errorText());
                return false;
            }
            batch.clear();
        }
    }
    *seconds = clock.elapsed() / 1000.0;
    return true;
}

bool Bench::runOurs(const QString &details)
{
    QList<double> trainTimes, rates, cpuRates;
    for (int run = 0; run < m_runs; ++run) {
        LearnedFilter *filter = nullptr;
        StateDatabase *db = nullptr;
        double seconds = 0;
        const bool trained = trainOurs(m_work.filePath(u"ours-%1"_s.arg(run)), &filter, &db, &seconds);
        if (trained) {
            trainTimes << seconds;
            Scores scores;
            QElapsedTimer clock;
            clock.start();
            const double cpu = cpuSeconds(RUSAGE_SELF);
            for (const Message &m : std::as_const(m_test))
                (m.spam ? scores.spam : scores.ham) << filter->classify(readFile(m.path)).score;
            rates << double(m_test.size()) / (clock.nsecsElapsed() / 1e9);
            cpuRates << double(m_test.size()) / qMax(1e-6, cpuSeconds(RUSAGE_SELF) - cpu);
            m_ours = scores;
            if (run == 0 && !details.isEmpty())
                writeDetails(*filter, details);
        }
        delete filter;
        delete db;
        if (!trained)
            return false;
    }
    m_oursTrain = median(trainTimes);
    m_oursRate = median(rates);
    m_oursCpuRate = median(cpuRates);
    return true;
}

// Per test message: label, score, file and the strongest tokens (for tuning).
void Bench::writeDetails(const LearnedFilter &filter, const QString &file) const
{
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return;
    for (const Message &m : m_test) {
        const LearnedFilter::Verdict v = filter.classify(readFile(m.path));
        QStringList strongest;
        for (const LearnedFilter::Evidence &e : v.strongest)
            strongest << e.token + u'=' + QString::number(e.probability, 'f', 3);
        out.write(u"%1 %2 %3 %4 %5\n"_s.arg(m.spam ? u"spam"_s : u"ham"_s)
                      .arg(v.score, 0, 'f', 6)
                      .arg(m.source)
                      .arg(v.tokensUsed)
                      .arg(strongest.join(u' '))
                      .toUtf8());
    }
}

bool Bench::bogofilterRun(const QStringList &args, const QList<Message> &messages, QByteArray *out, double *seconds)
{
    QByteArray list;
    for (const Message &m : messages)
        list += QFile::encodeName(m.path) + '\n';
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    p.start(m_bogofilter, args);
    if (!p.waitForStarted(30000)) {
        note(u"cannot start "_s + m_bogofilter);
        return false;
    }
    p.write(list);
    p.closeWriteChannel();
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit) {
        note(u"bogofilter failed: "_s + QString::fromLocal8Bit(p.readAllStandardError()));
        return false;
    }
    *seconds = clock.nsecsElapsed() / 1e9;
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

bool Bench::runBogofilter()
{
    QProcess version;
    version.start(m_bogofilter, {u"-V"_s});
    version.waitForFinished(30000);
    m_peerVersion = QString::fromLocal8Bit(version.readAllStandardOutput() + version.readAllStandardError())
                        .section(u'\n', 0, 0)
                        .trimmed();
    QList<Message> spam, ham;
    for (const Message &m : std::as_const(m_train))
        (m.spam ? spam : ham) << m;
    QList<double> trainTimes, rates, cpuRates;
    for (int run = 0; run < m_runs; ++run) {
        // Its own word list in a folder of its own; no configuration files.
        const QString dir = m_work.filePath(u"bogofilter-%1"_s.arg(run));
        QDir().mkpath(dir);
        const QStringList common = {u"-C"_s, u"-d"_s, dir};
        double spamSeconds = 0, hamSeconds = 0, testSeconds = 0;
        QByteArray out;
        if (!bogofilterRun(common + QStringList{u"-s"_s, u"-b"_s}, spam, nullptr, &spamSeconds)
            || !bogofilterRun(common + QStringList{u"-n"_s, u"-b"_s}, ham, nullptr, &hamSeconds))
            return false;
        const double cpu = cpuSeconds(RUSAGE_CHILDREN);
        if (!bogofilterRun(common + QStringList{u"-b"_s, u"-t"_s, u"--terse-format=%1.1c %0.15f"_s}, m_test, &out,
                           &testSeconds))
            return false;
        cpuRates << double(m_test.size()) / qMax(1e-6, cpuSeconds(RUSAGE_CHILDREN) - cpu);
        trainTimes << spamSeconds + hamSeconds;
        rates << double(m_test.size()) / testSeconds;
        // One line per message, in the order given.
        const QList<QByteArray> lines = out.trimmed().split('\n');
        if (lines.size() != m_test.size()) {
            note(u"bogofilter gave %1 results for %2 messages"_s.arg(lines.size()).arg(m_test.size()));
            return false;
        }
        Scores scores;
        for (qsizetype i = 0; i < lines.size(); ++i)
            (m_test.at(i).spam ? scores.spam : scores.ham) << lines.at(i).trimmed().split(' ').last().toDouble();
        m_peer = scores;
    }
    m_peerTrain = median(trainTimes);
    m_peerRate = median(rates);
    m_peerCpuRate = median(cpuRates);
    return true;
}

// The keyword rule as the scan applies it: upper-cased entries contained in
// the subject or body as the server sends them, then, through the scan's own
// decoding, in the decoded subject and text.
void Bench::keywords()
{
    QStringList upper;
    for (const QString &k : Keywords)
        upper << Scan::upperCased(k);
    Scan::KeywordMatcher matcher;
    matcher.build(upper);
    const auto matches = [&](const QString &upperText) {
        return matcher.firstMatch(upperText) != Scan::KeywordMatcher::NoMatch;
    };
    QList<Message> all = m_train;
    all += m_test;
    for (qsizetype i = 0; i < all.size(); ++i) {
        const bool test = i >= m_train.size();
        const QByteArray bytes = readFile(all.at(i).path);
        qsizetype split = bytes.indexOf("\n\n");
        const qsizetype crlf = bytes.indexOf("\r\n\r\n");
        if (crlf >= 0 && (split < 0 || crlf < split))
            split = crlf;
        const QByteArray head = split < 0 ? bytes : bytes.left(split + 1);
        const QByteArray body = split < 0 ? QByteArray() : bytes.mid(split).trimmed();
        // The raw subject: the first Subject line's value, one physical line.
        QByteArray subject;
        for (const QByteArray &line : head.split('\n')) {
            if (line.toLower().startsWith("subject:")) {
                subject = line.mid(8).trimmed();
                break;
            }
        }
        // One character per byte, as the control hands them to the scan.
        const QString headText = QString::fromLatin1(head);
        const QString bodyText = QString::fromLatin1(body);
        const bool raw = matches(Scan::upperCased(Scan::decodeServerText(QString::fromLatin1(subject))))
                         || matches(Scan::upperCased(Scan::decodeServerText(bodyText)));
        Scan::DecodedMessage decoded;
        decoded.reset([&] { return headText; }, [&] { return bodyText; });
        const bool viaDecoded = matches(decoded.subjectUpper()) || matches(decoded.bodyUpper());
        const bool both = raw || viaDecoded;
        // What the decoded text alone would miss: the reason raw text is still matched.
        const MimeText whole = MimeText::decode(bytes);
        const bool decodedAlone =
            matches(Scan::upperCased(whole.subject())) || matches(Scan::upperCased(whole.bodyText()));
        m_corpusRaw += raw;
        m_corpusBoth += both;
        m_corpusLost += raw && !decodedAlone;
        if (test) {
            (all.at(i).spam ? m_rawSpam : m_rawHam) += raw;
            (all.at(i).spam ? m_bothSpam : m_bothHam) += both;
        }
        if (all.at(i).spam && subject.contains("=?")) {
            ++m_encodedSubjects;
            if (matches(Scan::upperCased(whole.subject()))) {
                ++m_encodedSubjectHits;
                m_encodedSubjectCaught += both;
            }
        }
    }
}

QString Bench::table() const
{
    qsizetype spamTest = m_ours.spam.size(), hamTest = m_ours.ham.size();
    const OperatingPoint ours05 = operatingPoint(m_ours, MaxHamCondemned);
    const OperatingPoint peer05 = operatingPoint(m_peer, MaxHamCondemned);
    const OperatingPoint ours0 = operatingPoint(m_ours, 0.0);
    const OperatingPoint peer0 = operatingPoint(m_peer, 0.0);
    const double ourDefault = LearnedFilter::DefaultThreshold;
    const double peerDefault = 0.99; // bogofilter's spam_cutoff
    const auto yes = [](bool met) { return met ? u"yes"_s : u"**no**"_s; };
    const qsizetype allowed = qsizetype(std::floor(MaxHamCondemned * double(hamTest) + 1e-9));

    QString t;
    t += u"| Measure | Quellmail | %1 | Goal | Met |\n|---|---:|---:|---|---|\n"_s.arg(m_peerVersion);
    t += u"| Spam caught with at most 0.5 %% of ham condemned (%1 of %2) | %3 | %4 | >= 90 %%, ahead | %5 |\n"_s
             .arg(allowed)
             .arg(hamTest)
             .arg(percent(ours05.caught), percent(peer05.caught),
                  yes(ours05.caught >= 0.9 && ours05.caught > peer05.caught))
             .replace(u"%%"_s, u"%"_s);
    t += u"| Spam caught with no ham condemned | %1 | %2 | ahead | %3 |\n"_s.arg(
        percent(ours0.caught), percent(peer0.caught), yes(ours0.caught > peer0.caught));
    t += u"| Ham condemned at the default threshold (%1; bogofilter %2) | %3 (%4) | %5 (%6) | very few |  |\n"_s
             .arg(ourDefault)
             .arg(peerDefault)
             .arg(percent(double(above(m_ours.ham, ourDefault)) / double(hamTest), 2))
             .arg(above(m_ours.ham, ourDefault))
             .arg(percent(double(above(m_peer.ham, peerDefault)) / double(hamTest), 2))
             .arg(above(m_peer.ham, peerDefault));
    t += u"| Spam caught at the default threshold | %1 | %2 |  |  |\n"_s.arg(
        percent(double(above(m_ours.spam, ourDefault)) / double(spamTest)),
        percent(double(above(m_peer.spam, peerDefault)) / double(spamTest)));
    t += u"| Messages classified per second of CPU | %1 | %2 | >= bogofilter | %3 |\n"_s.arg(
        QString::number(m_oursCpuRate, 'f', 0), QString::number(m_peerCpuRate, 'f', 0),
        yes(m_oursCpuRate >= m_peerCpuRate));
    t += u"| Messages classified per second of wall time | %1 | %2 |  |  |\n"_s.arg(
        QString::number(m_oursRate, 'f', 0), QString::number(m_peerRate, 'f', 0));
    t += u"| Training on %1 messages (s) | %2 | %3 | < 10 s | %4 |\n"_s.arg(
        QString::number(m_train.size()), QString::number(m_oursTrain, 'f', 2), QString::number(m_peerTrain, 'f', 2),
        yes(m_oursTrain < 10.0));
    t +=
        u"\nThresholds found: at most 0.5 %% ham condemned above %1 (bogofilter %2); none above %3 (bogofilter %4).\n"_s
            .arg(ours05.threshold, 0, 'g', 6)
            .arg(peer05.threshold, 0, 'g', 6)
            .arg(ours0.threshold, 0, 'g', 6)
            .arg(peer0.threshold, 0, 'g', 6)
            .replace(u"%%"_s, u"%"_s);
    t += u"\nQuellmail's score against threshold on the test set:\n\n| Threshold | Spam caught | Ham condemned |\n"
         "|---:|---:|---:|\n"_s;
    for (double th : {0.5, 0.8, 0.9, 0.95, 0.99, 0.995, 0.999}) {
        t += u"| %1 | %2 | %3 (%4) |\n"_s.arg(th)
                 .arg(percent(double(above(m_ours.spam, th)) / double(spamTest)))
                 .arg(percent(double(above(m_ours.ham, th)) / double(hamTest), 2))
                 .arg(above(m_ours.ham, th));
    }
    t += u"\nKeyword rule with a fixed list of %1 entries (%2), subject and body, case-insensitive:\n\n"_s
             .arg(Keywords.size())
             .arg(Keywords.join(u", "_s));
    t += u"| Text matched | Test spam caught | Test ham condemned |\n|---|---:|---:|\n"_s;
    t += u"| Raw (as today) | %1 (%2) | %3 (%4) |\n"_s.arg(m_rawSpam)
             .arg(percent(double(m_rawSpam) / double(spamTest)))
             .arg(m_rawHam)
             .arg(percent(double(m_rawHam) / double(hamTest), 2));
    t += u"| Raw or decoded | %1 (%2) | %3 (%4) |\n"_s.arg(m_bothSpam)
             .arg(percent(double(m_bothSpam) / double(spamTest)))
             .arg(m_bothHam)
             .arg(percent(double(m_bothHam) / double(hamTest), 2));
    t += u"\nWhole corpus: %1 messages matched on raw text, %2 on raw or decoded text (never fewer: %3); "
         "%4 raw matches are not in the decoded text alone (keywords inside tags, links or encoded forms), "
         "which is why the raw text is still matched. Spam with an encoded subject: %5, of which %6 hold a "
         "listed keyword once decoded; caught: %7 (%8).\n"_s.arg(m_corpusRaw)
             .arg(m_corpusBoth)
             .arg(m_corpusBoth >= m_corpusRaw ? u"yes"_s : u"**no**"_s)
             .arg(m_corpusLost)
             .arg(m_encodedSubjects)
             .arg(m_encodedSubjectHits)
             .arg(m_encodedSubjectCaught)
             .arg(m_encodedSubjectCaught == m_encodedSubjectHits ? u"all"_s : u"**not all**"_s);
    return t;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Trains and tests the learned filter and bogofilter on a labelled corpus."_s);
    parser.addHelpOption();
    const QCommandLineOption dataOption(u"data"_s, u"folder of the corpus sets"_s, u"dir"_s);
    const QCommandLineOption peerOption(u"bogofilter"_s, u"the bogofilter program"_s, u"program"_s, u"bogofilter"_s);
    const QCommandLineOption runsOption(u"runs"_s, u"runs for the timings (median)"_s, u"n"_s, u"3"_s);
    const QCommandLineOption outputOption(u"output"_s, u"also write the section to this file"_s, u"file"_s);
    const QCommandLineOption corpusOption(u"corpus-name"_s, u"name of the corpus for the table"_s, u"text"_s);
    const QCommandLineOption detailsOption(u"details"_s, u"write each test message's score and strongest tokens"_s,
                                           u"file"_s);
    const QCommandLineOption skipPeerOption(u"no-peer"_s, u"only the learned filter (for tuning)"_s);
    parser.addOptions({dataOption, peerOption, runsOption, outputOption, corpusOption, detailsOption, skipPeerOption});
    parser.process(app);
    if (!parser.isSet(dataOption)) {
        note(u"--data is required"_s);
        return 2;
    }

    QElapsedTimer total;
    total.start();
    Bench bench(parser.value(peerOption), qMax(1, parser.value(runsOption).toInt()));
    note(u"copying the corpus..."_s);
    if (!bench.prepare(parser.value(dataOption)))
        return 1;
    note(u"training and testing the learned filter..."_s);
    if (!bench.runOurs(parser.value(detailsOption)))
        return 1;
    if (!parser.isSet(skipPeerOption)) {
        note(u"training and testing bogofilter..."_s);
        if (!bench.runBogofilter())
            return 1;
    }
    note(u"keyword rule on raw and decoded text..."_s);
    bench.keywords();

    const QString corpus = parser.isSet(corpusOption) ? parser.value(corpusOption) : u"the corpus"_s;
    const QString section = SectionTitle
                            + u"\n\nRun %1 on %2 (%3 cores), %4; whole run %5 s. Corpus: %6, "_s.arg(
                                QDateTime::currentDateTimeUtc().toString(u"yyyy-MM-dd HH:mm 'UTC'"_s), cpuModel(),
                                QString::number(QThread::idealThreadCount()), QSysInfo::prettyProductName(),
                                QString::number(total.elapsed() / 1000.0, 'f', 0), corpus)
                            + bench.split()
                            + u". Both filters read the same files; timings are medians of %1 runs, "
                              "training in batches of %2 messages (one transaction each), bogofilter in bulk mode "
                              "with its defaults and a word list of its own.\n\n"_s.arg(parser.value(runsOption))
                                  .arg(BatchSize)
                            + bench.table();
    std::printf("%s", qPrintable(section));
    if (parser.isSet(outputOption) && !Corpus::writeSection(parser.value(outputOption), SectionTitle, section)) {
        note(u"cannot write "_s + parser.value(outputOption));
        return 1;
    }
    return 0;
}
