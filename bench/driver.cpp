// The benchmark driver: starts a Dovecot of its own on 127.0.0.1, fills its
// mailboxes, runs every case several times against the program's code and a
// plain client in the same run, and prints one table of medians and ratios.
//
// bench_quellmail [--runs N] [--quick] [--output FILE] [--cases 1,...,10]

#include "dovecot/dovecotserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

using Result = QHash<QString, double>;

const QString kPassword = u"benchpw"_s;

struct Mailbox
{
    QString user;
    int count = 0;
};

QString benchBinary(const QString &name) { return QCoreApplication::applicationDirPath() + u'/' + name; }

QString peerScript() { return QStringLiteral(QUELLMAIL_BENCH_SOURCE_DIR "/pop3_peer.py"); }

void note(const QString &text)
{
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

// Reads the last "result k=v ..." line of a finished worker.
std::optional<Result> parseResult(const QByteArray &output)
{
    const QList<QByteArray> lines = output.split('\n');
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        if (!it->startsWith("result"))
            continue;
        Result result;
        const QList<QByteArray> fields = it->mid(6).trimmed().split(' ');
        for (const QByteArray &field : fields) {
            const qsizetype eq = field.indexOf('=');
            if (eq > 0)
                result.insert(QString::fromLatin1(field.left(eq)), field.mid(eq + 1).toDouble());
        }
        return result;
    }
    return std::nullopt;
}

QProcess *startWorker(const QString &program, const QStringList &args)
{
    auto *process = new QProcess;
    process->setProgram(program);
    process->setArguments(args);
    process->start();
    return process;
}

std::optional<Result> finishWorker(QProcess *process, int timeoutMs = 300000)
{
    std::optional<Result> result;
    if (!process->waitForFinished(timeoutMs)) {
        process->kill();
        process->waitForFinished(5000);
        note(u"  worker timed out: "_s + process->program());
    } else {
        result = parseResult(process->readAllStandardOutput());
        if (!result || process->exitCode() != 0) {
            note(u"  worker failed (exit %1): %2 %3\n%4"_s.arg(process->exitCode())
                     .arg(process->program(), process->arguments().join(u' '),
                          QString::fromLocal8Bit(process->readAllStandardError())));
            result.reset();
        }
    }
    delete process;
    return result;
}

std::optional<Result> runWorker(const QString &program, const QStringList &args)
{
    return finishWorker(startWorker(program, args));
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return std::nan("");
    std::sort(values.begin(), values.end());
    const qsizetype mid = values.size() / 2;
    return values.size() % 2 ? values.at(mid) : (values.at(mid - 1) + values.at(mid)) / 2.0;
}

// The median of one key over several results.
double medianOf(const QList<Result> &results, const QString &key)
{
    QList<double> values;
    for (const Result &r : results) {
        if (r.contains(key))
            values.append(r.value(key));
    }
    return median(values);
}

// A plain mail of about 4 KB: ordinary headers, a bracketed sender address in
// Received and a body of short text lines.
QByteArray smallMessage(int n)
{
    static const char *const words[] = {"report",   "meeting", "the",      "quarter", "figures", "attached", "please",
                                        "review",   "before",  "tomorrow", "thanks",  "regards", "budget",   "project",
                                        "schedule", "update",  "team",     "notes",   "draft",   "final"};
    QByteArray m;
    m += "Received: from mx" + QByteArray::number(n % 50) + ".mail.example (mx.mail.example [192.0.2."
         + QByteArray::number(n % 250 + 1) + "]) by pop.example.org\n";
    m += "Return-Path: <sender" + QByteArray::number(n) + "@mail.example.org>\n";
    m += "From: Sender " + QByteArray::number(n) + " <sender" + QByteArray::number(n) + "@mail.example.org>\n";
    m += "To: me@example.org\n";
    m += "Subject: Weekly report " + QByteArray::number(n) + "\n";
    m += "Date: Mon, 7 Dec 2026 10:00:00 +0000\n";
    m += "Message-ID: <" + QByteArray::number(n) + "@mail.example.org>\n\n";
    quint32 x = quint32(n) * 2246822519u + 1u;
    while (m.size() < 4096) {
        QByteArray line;
        while (line.size() < 68) {
            x = x * 1664525u + 1013904223u;
            line += words[(x >> 16) % 20];
            line += ' ';
        }
        m += line.trimmed() + '\n';
    }
    return m;
}

QByteArray bigMessage(qint64 bytes, const QByteArray &subject)
{
    QByteArray m = "From: big@mail.example.org\nTo: me@example.org\nSubject: " + subject + "\n\n";
    const QByteArray line = QByteArray(77, 'm') + '\n';
    m.reserve(bytes + line.size());
    while (m.size() < bytes)
        m += line;
    return m;
}

struct Row
{
    QString caseName;
    QString ours;
    QString peer;
    QString ratio;
    QString goal;
    QString met;
};

QString fixed(double value, int decimals)
{
    return std::isnan(value) ? u"n/a"_s : QString::number(value, 'f', decimals);
}

QString verdict(bool met, double value)
{
    if (std::isnan(value))
        return u"n/a"_s;
    return met ? u"yes"_s : u"NO"_s;
}

QString cpuModel()
{
    QFile cpuinfo(u"/proc/cpuinfo"_s);
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = cpuinfo.readAll().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("model name")) {
                const qsizetype colon = line.indexOf(':');
                return QString::fromLatin1(line.mid(colon + 1).trimmed());
            }
        }
    }
    return QSysInfo::currentCpuArchitecture();
}

// A latency proxy (bench/latency_proxy.py) in front of the server: a fixed
// delay each way, order kept, bandwidth not limited. Ends when its standard
// input closes.
class LatencyProxy
{
public:
    ~LatencyProxy() { stop(); }
    bool start(const QString &host, quint16 port, int oneWayMs)
    {
        m_process.setProgram(u"python3"_s);
        m_process.setArguments({QStringLiteral(QUELLMAIL_BENCH_SOURCE_DIR "/latency_proxy.py"), host,
                                QString::number(port), QString::number(oneWayMs)});
        // Its complaints about connections cut at shutdown are of no interest.
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start();
        QElapsedTimer clock;
        clock.start();
        while (!m_process.canReadLine() && clock.elapsed() < 10000 && m_process.waitForReadyRead(10000)) {
        }
        const QByteArray line = m_process.readLine().trimmed();
        m_port = line.startsWith("port ") ? quint16(line.mid(5).toUInt()) : 0;
        return m_port != 0;
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    quint16 port() const { return m_port; }
    // What the server sent through it, once it has stopped; -1 when unknown.
    qint64 bytesPassed()
    {
        const QList<QByteArray> lines = m_process.readAllStandardOutput().split('\n');
        for (const QByteArray &line : lines) {
            if (line.startsWith("bytes "))
                return line.mid(6).trimmed().toLongLong();
        }
        return -1;
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

class Driver
{
public:
    Driver(int runs, bool quick, const QStringList &cases)
        : m_runs(runs)
        , m_quick(quick)
        , m_cases(cases)
    {}

    bool setUp();
    void scanCases();
    void keywordCase();
    void streamCase();
    void retrieveCase();
    void idleCase();
    void latencyCase();
    void prefetchMemoryCase();
    void senderListCase();
    void judgeOnceCase();
    QString table() const;
    QString mailboxes() const
    {
        QStringList lines;
        for (const Mailbox *box :
             {&m_small, &m_large, &m_keywordBox, &m_stream, &m_retrieve, &m_latency300, &m_latency100, &m_latency50,
              &m_midMessages, &m_bigMessages, &m_judged, &m_twin, &m_ten})
            lines << account(*box).join(u' ') + u"   (%1 messages)"_s.arg(box->count);
        return lines.join(u'\n');
    }

private:
    QStringList account(const Mailbox &box, quint16 port = 0) const
    {
        return {u"--port"_s, QString::number(port ? port : m_server.port()), u"--user"_s, box.user, u"--password"_s,
                kPassword};
    }
    QStringList peerArgs(const QString &mode, const Mailbox &box, quint16 port = 0) const
    {
        return {peerScript(), mode,     m_server.address(), QString::number(port ? port : m_server.port()),
                box.user,     kPassword};
    }
    void add(const Row &row) { m_rows.append(row); }

    int m_runs;
    bool m_quick;
    QStringList m_cases;
    DovecotServer m_server;
    QTemporaryDir m_scratch;
    Mailbox m_small;
    Mailbox m_large;
    Mailbox m_keywordBox;
    Mailbox m_stream;
    Mailbox m_retrieve;
    Mailbox m_latency300;
    Mailbox m_latency100;
    Mailbox m_latency50;
    Mailbox m_midMessages;
    Mailbox m_bigMessages;
    Mailbox m_judged; // case 10: judged once, then 10 new messages before each later scan
    Mailbox m_twin;   // the same for the raw client
    Mailbox m_ten;
    int m_judgedAdded = 0;
    QList<Result> m_largeScans; // case 2's scans of the largest mailbox, for case 8
    QList<Row> m_rows;
    QStringList m_notes;
    QString m_latencyTable;
};

bool Driver::setUp()
{
    if (!DovecotServer::isAvailable()) {
        note(u"dovecot is not installed (scripts/install-deps.sh installs it)"_s);
        return false;
    }
    m_small = {u"scan2k"_s, m_quick ? 200 : 2000};
    m_large = {u"scan20k"_s, m_quick ? 2000 : 20000};
    m_keywordBox = {u"keywords"_s, 200};
    m_stream = {u"stream"_s, 1};
    m_retrieve = {u"retrieve"_s, 1};
    m_latency300 = {u"lat300"_s, m_quick ? 60 : 300};
    m_latency100 = {u"lat100"_s, m_quick ? 20 : 100};
    m_latency50 = {u"lat50"_s, m_quick ? 10 : 50};
    // 50 messages of 1 MB (cases 7 and 8) and 50 of 20 MB (case 8), written only when those run.
    const bool midWanted = m_cases.contains(u"7"_s) || m_cases.contains(u"8"_s);
    m_midMessages = {u"mid50"_s, midWanted ? (m_quick ? 10 : 50) : 0};
    m_bigMessages = {u"big50"_s, m_cases.contains(u"8"_s) ? (m_quick ? 5 : 50) : 0};
    m_judged = {u"once10k"_s, m_cases.contains(u"10"_s) ? (m_quick ? 1000 : 10000) : 0};
    m_twin = {u"raw10k"_s, m_judged.count};
    m_ten = {u"ten"_s, m_cases.contains(u"10"_s) ? 10 : 0};

    QElapsedTimer fill;
    fill.start();
    for (const Mailbox *box : {&m_small, &m_large, &m_keywordBox, &m_stream, &m_retrieve, &m_latency300, &m_latency100,
                               &m_latency50, &m_midMessages, &m_bigMessages, &m_judged, &m_twin, &m_ten})
        m_server.addUser(box->user, kPassword);
    for (const Mailbox *box : {&m_judged, &m_twin, &m_ten}) {
        for (int n = 1; n <= box->count; ++n)
            m_server.addMessage(box->user, smallMessage(n));
    }
    for (const Mailbox *box : {&m_latency300, &m_latency100, &m_latency50}) {
        for (int n = 1; n <= box->count; ++n)
            m_server.addMessage(box->user, smallMessage(n));
    }
    for (int n = 1; n <= m_midMessages.count; ++n)
        m_server.addMessage(m_midMessages.user, bigMessage(1LL << 20, "mid " + QByteArray::number(n)));
    for (int n = 1; n <= m_bigMessages.count; ++n)
        m_server.addMessage(m_bigMessages.user, bigMessage(20LL << 20, "big " + QByteArray::number(n)));
    for (int n = 1; n <= m_small.count; ++n)
        m_server.addMessage(m_small.user, smallMessage(n));
    for (int n = 1; n <= m_large.count; ++n)
        m_server.addMessage(m_large.user, smallMessage(n));
    for (int n = 1; n <= m_keywordBox.count; ++n)
        m_server.addMessage(m_keywordBox.user, smallMessage(n));
    m_server.addMessage(m_stream.user, bigMessage(m_quick ? 10LL << 20 : 100LL << 20, "streamed"));
    m_server.addMessage(m_retrieve.user, bigMessage(m_quick ? 2LL << 20 : 20LL << 20, "retrieved"));
    m_notes << u"Mailboxes written in %1 s."_s.arg(fixed(fill.elapsed() / 1000.0, 1));

    if (!m_server.start(u"127.0.0.1"_s, 0)) {
        note(u"cannot start dovecot: "_s + m_server.errorString());
        return false;
    }
    note(u"dovecot on 127.0.0.1:%1"_s.arg(m_server.port()));

    // The first session of a mailbox builds Dovecot's index; that is the
    // server's cost, measured here once and kept out of the cases.
    QStringList warm;
    for (const Mailbox *box : {&m_small, &m_large, &m_keywordBox, &m_stream, &m_retrieve, &m_latency300, &m_latency100,
                               &m_latency50, &m_midMessages, &m_bigMessages, &m_judged, &m_twin, &m_ten}) {
        const auto r = runWorker(u"python3"_s, peerArgs(u"warm"_s, *box));
        if (!r || int(r->value(u"messages"_s)) != box->count) {
            note(u"warm-up of %1 failed"_s.arg(box->user));
            return false;
        }
        warm << u"%1 messages %2 s"_s.arg(box->count).arg(fixed(r->value(u"seconds"_s), 2));
    }
    m_notes << u"Server index warm-up (first session per mailbox, not in the figures): "_s + warm.join(u", "_s) + u'.';
    return true;
}

void Driver::scanCases()
{
    const QString scan = benchBinary(u"bench_scan"_s);
    QList<Result> oursSmall, peerSmall, oursLarge, peerLarge;
    note(u"case 1/2: scan of %1 messages, %2 runs"_s.arg(m_small.count).arg(m_runs));
    for (int run = 0; run < m_runs; ++run) {
        if (auto r = runWorker(scan, account(m_small)))
            oursSmall << *r;
        if (auto r = runWorker(u"python3"_s, peerArgs(u"scan"_s, m_small)))
            peerSmall << *r;
    }
    const int largeRuns = qMax(1, qMin(m_runs, 3));
    note(u"case 2: scan of %1 messages, %2 runs"_s.arg(m_large.count).arg(largeRuns));
    for (int run = 0; run < largeRuns; ++run) {
        if (auto r = runWorker(scan, account(m_large)))
            oursLarge << *r;
        m_largeScans = oursLarge;
        if (auto r = runWorker(u"python3"_s, peerArgs(u"scan"_s, m_large)))
            peerLarge << *r;
    }
    for (const QList<Result> *set : {&oursSmall, &oursLarge}) {
        for (const Result &r : *set) {
            if (r.value(u"spam"_s) != 0)
                m_notes << u"A scan judged %1 messages spam; the figures are not comparable."_s.arg(r.value(u"spam"_s));
        }
    }

    const double ours = medianOf(oursSmall, u"seconds"_s);
    const double peer = medianOf(peerSmall, u"seconds"_s);
    add({u"1. Scan, %1 msgs of 4 KB, all rules, 20/20/20 entries (s)"_s.arg(m_small.count), fixed(ours, 3),
         fixed(peer, 3), fixed(ours / peer, 2), u"ratio <= 1.0"_s, verdict(ours / peer <= 1.0, ours / peer)});

    const double perSmall = ours / m_small.count * 1000.0;
    const double perLarge = medianOf(oursLarge, u"seconds"_s) / m_large.count * 1000.0;
    const double peerPerSmall = peer / m_small.count * 1000.0;
    const double peerPerLarge = medianOf(peerLarge, u"seconds"_s) / m_large.count * 1000.0;
    add({u"2. Scan, time per message, %1 msgs (ms)"_s.arg(m_small.count), fixed(perSmall, 3), fixed(peerPerSmall, 3),
         fixed(perSmall / peerPerSmall, 2), u""_s, u""_s});
    add({u"2. Scan, time per message, %1 msgs (ms)"_s.arg(m_large.count), fixed(perLarge, 3), fixed(peerPerLarge, 3),
         fixed(perLarge / peerPerLarge, 2), u""_s, u""_s});
    const double scaling = perLarge / perSmall;
    add({u"2. Time per message, %1 / %2 msgs"_s.arg(m_large.count).arg(m_small.count), fixed(scaling, 2),
         fixed(peerPerLarge / peerPerSmall, 2), u""_s, u"0.8 .. 1.2"_s,
         verdict(scaling >= 0.8 && scaling <= 1.2, scaling)});
    const double memSmall = medianOf(oursSmall, u"peak_growth_kb"_s) / 1024.0;
    const double memLarge = medianOf(oursLarge, u"peak_growth_kb"_s) / 1024.0;
    add({u"2. Peak memory growth during the scan, %1 / %2 msgs (MB)"_s.arg(m_small.count).arg(m_large.count),
         fixed(memSmall, 1) + u" / "_s + fixed(memLarge, 1), u""_s, u""_s, u"difference < 10 MB"_s,
         verdict(memLarge - memSmall < 10.0, memLarge - memSmall)});
}

void Driver::keywordCase()
{
    const QString scan = benchBinary(u"bench_scan"_s);
    const QList<int> sizes = {1, 100, 1000, 10000};
    QHash<int, QList<Result>> results;
    note(u"case 3: %1 messages with 1 to 10,000 keywords, %2 runs"_s.arg(m_keywordBox.count).arg(m_runs));
    for (int run = 0; run < m_runs; ++run) {
        for (int size : sizes) {
            if (auto r = runWorker(scan, account(m_keywordBox) + QStringList{u"--keywords"_s, QString::number(size)}))
                results[size] << *r;
        }
    }
    const double base = medianOf(results.value(1), u"seconds"_s);
    for (int size : sizes) {
        const double t = medianOf(results.value(size), u"seconds"_s);
        QString goal;
        QString met;
        if (size == 1000 || size == 10000) {
            const double limit = size == 1000 ? 3.0 : 10.0;
            goal = u"ratio <= %1"_s.arg(limit);
            met = verdict(t / base <= limit, t / base);
        }
        add({u"3. Scan, %1 msgs, %2 keyword(s), vs 1 keyword (s)"_s.arg(m_keywordBox.count).arg(size), fixed(t, 3),
             fixed(base, 3), fixed(t / base, 2), goal, met});
    }
}

void Driver::senderListCase()
{
    // Each sender list of one entry and of 50,000 (none matching), the other
    // lists as in case 1.
    const QString scan = benchBinary(u"bench_scan"_s);
    const int large = m_quick ? 5000 : 50000;
    QHash<QString, QList<Result>> results;
    note(u"case 9: %1 messages with sender lists of 1 and %2 entries, %3 runs"_s.arg(m_small.count)
             .arg(large)
             .arg(m_runs));
    for (int run = 0; run < m_runs; ++run) {
        for (const QString &list : {u"blacklist"_s, u"whitelist"_s}) {
            for (const int size : {1, large}) {
                const QStringList args = account(m_small) + QStringList{u"--"_s + list, QString::number(size)};
                if (auto r = runWorker(scan, args))
                    results[list + QString::number(size)] << *r;
            }
        }
    }
    for (const QString &list : {u"blacklist"_s, u"whitelist"_s}) {
        const double base = medianOf(results.value(list + u'1'), u"seconds"_s);
        const double t = medianOf(results.value(list + QString::number(large)), u"seconds"_s);
        add({u"9. Scan, %1 msgs of 4 KB, %2 %3 entries vs 1 entry (s)"_s.arg(m_small.count).arg(large).arg(list),
             fixed(t, 3), fixed(base, 3), fixed(t / base, 2), u"ratio <= 1.5"_s, verdict(t / base <= 1.5, t / base)});
    }
}

void Driver::streamCase()
{
    const QString stream = benchBinary(u"bench_stream_memory"_s);
    const QString ourFile = m_scratch.filePath(u"ours.eml"_s);
    const QString curlFile = m_scratch.filePath(u"curl.eml"_s);
    QList<Result> ours, peer;
    note(u"case 4: streaming one large message to a file, %1 runs"_s.arg(m_runs));
    for (int run = 0; run < m_runs; ++run) {
        if (auto r = runWorker(stream, account(m_stream) + QStringList{u"--output"_s, ourFile}))
            ours << *r;
        QFile::remove(ourFile);
        QProcess curl;
        curl.start(u"curl"_s,
                   {u"-s"_s, u"-S"_s, u"-o"_s, curlFile, u"-w"_s, u"%{time_total}"_s,
                    u"pop3://%1:%2@%3:%4/1"_s.arg(m_stream.user, kPassword, m_server.address()).arg(m_server.port())});
        if (curl.waitForFinished(300000) && curl.exitCode() == 0)
            peer << Result{{u"seconds"_s, curl.readAllStandardOutput().trimmed().toDouble()}};
        else
            note(u"  curl failed: "_s + QString::fromLocal8Bit(curl.readAllStandardError()));
        QFile::remove(curlFile);
    }
    const double t = medianOf(ours, u"seconds"_s);
    const double p = medianOf(peer, u"seconds"_s);
    const double mb = medianOf(ours, u"bytes"_s) / 1048576.0;
    add({u"4. WriteCurrentMsgToFile, %1 MB, vs curl (s)"_s.arg(fixed(mb, 0)), fixed(t, 3), fixed(p, 3), fixed(t / p, 2),
         u"ratio <= 1.5"_s, verdict(t / p <= 1.5, t / p)});
    const double growth = medianOf(ours, u"peak_growth_kb"_s) / 1024.0;
    add({u"4. Peak memory growth while streaming (MB)"_s, fixed(growth, 1), u""_s, u""_s, u"< 16 MB"_s,
         verdict(growth < 16.0, growth)});
}

void Driver::retrieveCase()
{
    const QString retrieve = benchBinary(u"bench_retrieve"_s);
    QList<Result> ours, peer;
    note(u"case 5: one large message into memory, %1 runs"_s.arg(m_runs));
    for (int run = 0; run < m_runs; ++run) {
        if (auto r = runWorker(retrieve, account(m_retrieve)))
            ours << *r;
        if (auto r = runWorker(u"python3"_s, peerArgs(u"retr"_s, m_retrieve) << u"1"_s))
            peer << *r;
    }
    const double t = medianOf(ours, u"seconds"_s);
    const double p = medianOf(peer, u"seconds"_s);
    const double mb = medianOf(peer, u"bytes"_s) / 1048576.0;
    add({u"5. RetrieveCurrentMsg, %1 MB, vs poplib RETR (s)"_s.arg(fixed(mb, 0)), fixed(t, 3), fixed(p, 3),
         fixed(t / p, 2), u"ratio <= 1.5"_s, verdict(t / p <= 1.5, t / p)});
}

void Driver::idleCase()
{
    // Every run waits on a silent server of its own; waiting costs no CPU, so
    // the runs share the wall time.
    note(u"case 6: waits on silent servers, %1 runs side by side"_s.arg(m_runs));
    QList<QProcess *> oursRunning, peerRunning;
    for (int run = 0; run < m_runs; ++run) {
        oursRunning << startWorker(benchBinary(u"bench_idle_cpu"_s), {});
        peerRunning << startWorker(u"python3"_s, {peerScript(), u"idle"_s, u"10"_s});
    }
    QList<Result> ours, peer;
    for (QProcess *p : oursRunning) {
        if (auto r = finishWorker(p))
            ours << Result{{u"share"_s, r->value(u"cpu_seconds"_s) / r->value(u"wall_seconds"_s) * 100.0}};
    }
    for (QProcess *p : peerRunning) {
        if (auto r = finishWorker(p))
            peer << Result{{u"share"_s, r->value(u"cpu_seconds"_s) / r->value(u"wall_seconds"_s) * 100.0}};
    }
    const double o = medianOf(ours, u"share"_s);
    const double p = medianOf(peer, u"share"_s);
    add({u"6. CPU over wall time, 10 s wait on a silent server (%)"_s, fixed(o, 3), fixed(p, 3), u""_s, u"<= 1 %"_s,
         verdict(o <= 1.0, o)});
}

void Driver::latencyCase()
{
    // Round trips of 0 (straight to the server), 20, 60 and 120 ms. The
    // clients that pay a round trip per command get fewer messages (and one
    // run) over a slow link; their time is also given scaled to the mailbox.
    const QString scan = benchBinary(u"bench_scan"_s);
    const int fastRuns = qMax(1, qMin(m_runs, 3));
    struct Point
    {
        int rtt = 0;
        double measured = std::nan("");
        QList<Result> ours, reference, oursOld, poplib;
        // The same side by side on 300 messages of 4 KB and on 50 of 1 MB.
        QList<Result> ours300, reference300, oursMid, referenceMid;
        int slowMessages = 0;
        int slowRuns = 0;
    };
    QList<Point> points;
    for (const int rtt : {0, 20, 60, 120}) {
        Point point;
        point.rtt = rtt;
        LatencyProxy proxy;
        quint16 port = m_server.port();
        if (rtt > 0) {
            if (!proxy.start(m_server.address(), m_server.port(), rtt / 2)) {
                note(u"  the latency proxy did not start"_s);
                continue;
            }
            port = proxy.port();
        }
        if (auto r =
                runWorker(u"python3"_s, {peerScript(), u"rtt"_s, m_server.address(), QString::number(port), u"9"_s}))
            point.measured = r->value(u"seconds"_s) * 1000.0;
        const Mailbox &slow = rtt == 0 ? m_small : rtt <= 20 ? m_latency300 : rtt <= 60 ? m_latency100 : m_latency50;
        point.slowMessages = slow.count;
        point.slowRuns = rtt == 0 ? fastRuns : 1;
        note(u"case 7: RTT %1 ms (measured %2 ms): %3 msgs x %4 runs, per-message clients %5 msgs x %6 runs"_s.arg(rtt)
                 .arg(fixed(point.measured, 1))
                 .arg(m_small.count)
                 .arg(fastRuns)
                 .arg(slow.count)
                 .arg(point.slowRuns));
        for (int run = 0; run < fastRuns; ++run) {
            if (auto r = runWorker(scan, account(m_small, port)))
                point.ours << *r;
            if (auto r = runWorker(u"python3"_s, peerArgs(u"window"_s, m_small, port) << u"0"_s))
                point.reference << *r;
        }
        if (rtt == 0 || rtt == 60) {
            note(u"case 7: RTT %1 ms: %2 msgs of 1 MB%3 x %4 runs"_s.arg(rtt)
                     .arg(m_midMessages.count)
                     .arg(rtt == 60 ? u", %1 msgs of 4 KB"_s.arg(m_latency300.count) : QString())
                     .arg(fastRuns));
            for (int run = 0; run < fastRuns; ++run) {
                if (auto r = runWorker(scan, account(m_midMessages, port)))
                    point.oursMid << *r;
                if (auto r = runWorker(u"python3"_s, peerArgs(u"window"_s, m_midMessages, port) << u"0"_s))
                    point.referenceMid << *r;
                if (rtt != 60)
                    continue;
                if (auto r = runWorker(scan, account(m_latency300, port)))
                    point.ours300 << *r;
                if (auto r = runWorker(u"python3"_s, peerArgs(u"window"_s, m_latency300, port) << u"0"_s))
                    point.reference300 << *r;
            }
        }
        for (int run = 0; run < point.slowRuns; ++run) {
            if (auto r = runWorker(scan, account(slow, port) << u"--no-prefetch"_s))
                point.oursOld << *r;
            if (auto r = runWorker(u"python3"_s, peerArgs(u"exchanges"_s, slow, port)))
                point.poplib << *r;
        }
        points.append(point);
    }

    const int count = m_small.count;
    const auto scaled = [count](const QList<Result> &results, int messages) {
        return medianOf(results, u"seconds"_s) * double(count) / double(messages);
    };
    m_latencyTable = u"| RTT (measured) | Quellmail, prefetching | Quellmail, per-message exchanges | poplib, same "
                     "exchanges | Pipelined reference | Quellmail / reference | Quellmail / poplib |\n"
                     "|---|---:|---:|---:|---:|---:|---:|\n"_s;
    for (const Point &p : points) {
        const double ours = medianOf(p.ours, u"seconds"_s);
        const double reference = medianOf(p.reference, u"seconds"_s);
        const double old = medianOf(p.oursOld, u"seconds"_s);
        const double poplib = medianOf(p.poplib, u"seconds"_s);
        const QString slowCell = p.slowMessages == count ? u"%1"_s : u"%1 for %2 msgs (%3 scaled)"_s;
        const auto slow = [&](double t, const QList<Result> &results) {
            return p.slowMessages == count
                       ? fixed(t, 2)
                       : slowCell.arg(fixed(t, 2)).arg(p.slowMessages).arg(fixed(scaled(results, p.slowMessages), 1));
        };
        m_latencyTable += u"| %1 ms (%2) | %3 | %4 | %5 | %6 | %7 | %8 |\n"_s.arg(p.rtt).arg(
            fixed(p.measured, 1), fixed(ours, 2), slow(old, p.oursOld), slow(poplib, p.poplib), fixed(reference, 2),
            fixed(ours / reference, 2), fixed(ours / scaled(p.poplib, p.slowMessages), 3));
        if (p.rtt == 0) {
            const double ratio = ours / old;
            add({u"7. Scan, %1 msgs, RTT 0, prefetching vs per-message exchanges (s)"_s.arg(count), fixed(ours, 3),
                 fixed(old, 3), fixed(ratio, 2), u"ratio <= 1.0"_s, verdict(ratio <= 1.0, ratio)});
        }
        if (p.rtt == 60) {
            const double vsReference = ours / reference;
            add({u"7. Scan, %1 msgs, RTT 60 ms, vs fully pipelined client (s)"_s.arg(count), fixed(ours, 3),
                 fixed(reference, 3), fixed(vsReference, 2), u"ratio <= 3"_s,
                 verdict(vsReference <= 3.0, vsReference)});
            const double popScaled = scaled(p.poplib, p.slowMessages);
            const double vsPoplib = ours / popScaled;
            add({u"7. Scan, %1 msgs, RTT 60 ms, vs poplib per-message exchanges (s, poplib scaled from %2 msgs)"_s
                     .arg(count)
                     .arg(p.slowMessages),
                 fixed(ours, 3), fixed(popScaled, 1), fixed(vsPoplib, 3), u"ratio <= 0.05"_s,
                 verdict(vsPoplib <= 0.05, vsPoplib)});
        }
        if (p.rtt == 60) {
            const double o = medianOf(p.ours300, u"seconds"_s);
            const double r = medianOf(p.reference300, u"seconds"_s);
            add({u"7. Scan, %1 msgs of 4 KB, RTT 60 ms, vs fully pipelined client (s)"_s.arg(m_latency300.count),
                 fixed(o, 3), fixed(r, 3), fixed(o / r, 2), u"ratio <= 3"_s, verdict(o / r <= 3.0, o / r)});
        }
        if (p.rtt == 0 || p.rtt == 60) {
            // Large messages: the scan's time and its CPU per megabyte against
            // the reference, which only frames the replies.
            const QString rttName = p.rtt == 0 ? u"RTT 0"_s : u"RTT 60 ms"_s;
            const double o = medianOf(p.oursMid, u"seconds"_s);
            const double r = medianOf(p.referenceMid, u"seconds"_s);
            const bool goal = p.rtt == 60;
            add({u"7. Scan, %1 msgs of 1 MB, %2, vs fully pipelined client (s)"_s.arg(m_midMessages.count).arg(rttName),
                 fixed(o, 3), fixed(r, 3), fixed(o / r, 2), goal ? u"ratio <= 2"_s : QString(),
                 goal ? verdict(o / r <= 2.0, o / r) : QString()});
            const double mb = medianOf(p.referenceMid, u"bytes"_s) / 1048576.0;
            const double oCpu = medianOf(p.oursMid, u"cpu_seconds"_s) / mb * 1000.0;
            const double rCpu = medianOf(p.referenceMid, u"cpu_seconds"_s) / mb * 1000.0;
            add({u"7. CPU per MB, scan of %1 msgs of 1 MB, %2 (ms)"_s.arg(m_midMessages.count).arg(rttName),
                 fixed(oCpu, 2), fixed(rCpu, 2), fixed(oCpu / rCpu, 2), u"ratio <= 2"_s,
                 verdict(oCpu / rCpu <= 2.0, oCpu / rCpu)});
        }
        if (p.rtt == 20 || p.rtt == 120) {
            add({u"7. Scan, %1 msgs, RTT %2 ms, vs fully pipelined client (s)"_s.arg(count).arg(p.rtt), fixed(ours, 3),
                 fixed(reference, 3), fixed(ours / reference, 2), u""_s, u""_s});
        }
    }
}

void Driver::prefetchMemoryCase()
{
    const QString scan = benchBinary(u"bench_scan"_s);
    if (m_largeScans.isEmpty()) {
        note(u"case 8: scan of %1 messages"_s.arg(m_large.count));
        if (auto r = runWorker(scan, account(m_large)))
            m_largeScans << *r;
    }
    const double large = medianOf(m_largeScans, u"peak_growth_kb"_s) / 1024.0;
    add({u"8. Peak memory growth, scan of %1 msgs with prefetching (MB)"_s.arg(m_large.count), fixed(large, 1), u""_s,
         u""_s, u"< 16 MB"_s, verdict(large < 16.0, large)});

    // Prefetching holds at most its budget beyond what the scan holds
    // without it: messages of 1 MB (eight fit the budget) and of 20 MB
    // (beyond it: each is fetched as without the mode).
    const int runs = qMax(1, qMin(m_runs, 2));
    const double budget = 8.0;
    for (const Mailbox *box : {&m_midMessages, &m_bigMessages}) {
        const int mb = box == &m_midMessages ? 1 : 20;
        QList<Result> on, off;
        note(u"case 8: scan of %1 messages of %2 MB, with and without prefetching, %3 runs"_s.arg(box->count)
                 .arg(mb)
                 .arg(runs));
        for (int run = 0; run < runs; ++run) {
            if (auto r = runWorker(scan, account(*box)))
                on << *r;
            if (auto r = runWorker(scan, account(*box) << u"--no-prefetch"_s))
                off << *r;
        }
        const double withMode = medianOf(on, u"peak_growth_kb"_s) / 1024.0;
        const double without = medianOf(off, u"peak_growth_kb"_s) / 1024.0;
        const double added = withMode - without;
        add({u"8. Peak memory growth, scan of %1 msgs of %2 MB, prefetching vs without (MB)"_s.arg(box->count).arg(mb),
             fixed(withMode, 1), fixed(without, 1), (added >= 0 ? u"+"_s : QString()) + fixed(added, 1),
             u"difference <= %1 MB (budget)"_s.arg(budget), verdict(added <= budget, added)});
    }
}

void Driver::judgeOnceCase()
{
    // A folder that keeps its state database: the first scan judges the
    // whole mailbox, each later one finds 10 new messages. The peer is the
    // usual scan of a mailbox of 10 messages, from a folder it keeps too.
    const QString scan = benchBinary(u"bench_scan"_s);
    const QString folder = m_scratch.filePath(u"judged-once"_s);
    const QStringList once{u"--judge-once"_s, u"--folder"_s, folder};
    const auto addNew = [this](const Mailbox &box) {
        qint64 bytes = 0;
        for (int k = 0; k < 10; ++k) {
            const QByteArray m = smallMessage(1000000 + ++m_judgedAdded);
            m_server.addMessage(box.user, m);
            bytes += m.size() + m.count('\n'); // as RETR sends it, CR LF line ends
        }
        return bytes;
    };
    note(u"case 10: %1 messages judged once, then 10 new before each of %2 later scans"_s.arg(m_judged.count)
             .arg(m_runs));
    const std::optional<Result> first = runWorker(scan, account(m_judged) + once);
    QList<Result> later, ten, raw;
    for (int run = 0; run < m_runs; ++run) {
        addNew(m_judged);
        if (auto r = runWorker(scan, account(m_judged) + once))
            later << *r;
        // The same session by a raw client that knows which 10 are new, on a
        // mailbox of the same size that just got 10 new: what the server costs.
        addNew(m_twin);
        if (auto r = runWorker(u"python3"_s, peerArgs(u"tail"_s, m_twin) << u"10"_s))
            raw << *r;
        if (auto r = runWorker(scan, account(m_ten) << u"--folder"_s << m_scratch.filePath(u"ten"_s)))
            ten << *r;
    }
    // Bytes from the server, through a proxy that adds no delay: a later
    // scan with 10 new messages, then one with none (the listing and the
    // session's other replies).
    const qint64 newBytes = addNew(m_judged);
    qint64 withNew = -1, listingOnly = -1;
    for (qint64 *bytes : {&withNew, &listingOnly}) {
        LatencyProxy proxy;
        if (!proxy.start(m_server.address(), m_server.port(), 0)) {
            note(u"  the proxy did not start"_s);
            break;
        }
        const std::optional<Result> r = runWorker(scan, account(m_judged, proxy.port()) + once);
        proxy.stop();
        *bytes = r ? proxy.bytesPassed() : -1;
    }
    const double ours = medianOf(later, u"seconds"_s);
    const double peer = medianOf(ten, u"seconds"_s);
    const double laterScanned = medianOf(later, u"messages"_s);
    const int total = m_judged.count + 10;
    add({u"10. Judge once: first scan, %1 msgs of 4 KB (s)"_s.arg(m_judged.count),
         first ? fixed(first->value(u"seconds"_s), 3) : u"failed"_s, u""_s, u""_s, u""_s, u""_s});
    add({u"10. Judge once: later scan, %1 kept + 10 new msgs, vs a scan of 10 msgs (s)"_s.arg(total - 10),
         fixed(ours, 3), fixed(peer, 3), fixed(ours / peer, 2), u"ratio <= 2"_s,
         verdict(ours / peer <= 2.0, ours / peer)});
    const double oursCpu = medianOf(later, u"cpu_seconds"_s);
    const double tenCpu = medianOf(ten, u"cpu_seconds"_s);
    add({u"10. Judge once: CPU of a later scan vs a scan of 10 msgs (s)"_s, fixed(oursCpu, 3), fixed(tenCpu, 3),
         fixed(oursCpu / tenCpu, 2), u""_s, u""_s});
    const double rawSeconds = medianOf(raw, u"seconds"_s);
    add({u"10. Judge once: later scan vs a raw client that lists a mailbox as large and fetches only its 10 new (s)"_s,
         fixed(ours, 3), fixed(rawSeconds, 3), fixed(ours / rawSeconds, 2), u""_s, u""_s});
    add({u"10. Judge once: messages judged by a later scan"_s, fixed(laterScanned, 0), u"10"_s, u""_s, u"10"_s,
         verdict(laterScanned == 10, laterScanned)});
    const double limit = 1.2 * double(newBytes) + double(listingOnly);
    add({u"10. Judge once: bytes from the server, later scan vs 1.2 x new (%1) + listing (%2) (KB)"_s.arg(
             fixed(newBytes / 1024.0, 1), fixed(listingOnly / 1024.0, 1)),
         fixed(withNew / 1024.0, 1), fixed(limit / 1024.0, 1), fixed(withNew / limit, 2), u"ratio <= 1"_s,
         verdict(withNew >= 0 && listingOnly >= 0 && withNew <= limit, withNew / limit)});
}

QString Driver::table() const
{
    QString text;
    text += u"| Case | Quellmail | Peer | Ratio | Goal | Met |\n|---|---:|---:|---:|---|---|\n"_s;
    for (const Row &row : m_rows)
        text +=
            u"| %1 | %2 | %3 | %4 | %5 | %6 |\n"_s.arg(row.caseName, row.ours, row.peer, row.ratio, row.goal, row.met);
    text += u'\n';
    text +=
        u"Peers: case 1 and 2 Python poplib (UIDL n, TOP n 0, LIST n, RETR n per message, one connection); "
        "case 3 our own 1-keyword scan; case 4 curl pop3://; case 5 poplib RETR; case 6 poplib waiting for "
        "a greeting; case 7 the same scan without prefetching, poplib doing its exchanges (UIDL n, LIST n, "
        "RETR n) and a fully pipelined raw client (one UIDL, one LIST, every RETR sent at once; CPU is each process's "
        "own over the scan or session); case 8 the "
        "same scan without prefetching; case 9 the same scan with one entry in the list; case 10 the usual scan (each message judged) of a mailbox of 10 messages, and a raw client that lists the mailbox and fetches only the new messages. Medians of %1 runs (%2 for the largest mailbox and in case 7).\n"_s
            .arg(m_runs)
            .arg(qMax(1, qMin(m_runs, 3)));
    if (!m_latencyTable.isEmpty()) {
        text += u"\nCase 7 side by side: whole scan from login to QUIT through a proxy that delays each direction "
                "by half the round trip (RTT 0 is the server itself). The per-message clients pay a round trip "
                "per command, so over a slow link they walk a smaller mailbox in one run; their time is also "
                "shown scaled to %1 messages.\n\n"_s.arg(m_small.count)
                + m_latencyTable;
    }
    for (const QString &n : m_notes)
        text += u'\n' + n + u'\n';
    return text;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(u"Runs the benchmarks and prints the table."_s);
    parser.addHelpOption();
    const QCommandLineOption runsOption(u"runs"_s, u"runs per case (median)"_s, u"n"_s, u"5"_s);
    const QCommandLineOption quickOption(u"quick"_s, u"small mailboxes, for trying the driver"_s);
    const QCommandLineOption outputOption(u"output"_s, u"also write the table to this file"_s, u"file"_s);
    const QCommandLineOption casesOption(u"cases"_s, u"cases to run, e.g. 1,3,6 (default all)"_s, u"list"_s,
                                         u"1,2,3,4,5,6,7,8,9,10"_s);
    const QCommandLineOption serveOption(u"serve"_s, u"only fill and start the server, print its port and "
                                                     "mailboxes, and keep it until stdin ends (for profiling)"_s);
    parser.addOptions({runsOption, quickOption, outputOption, casesOption, serveOption});
    parser.process(app);
    const QStringList cases = parser.value(casesOption).split(u',');

    QElapsedTimer total;
    total.start();
    Driver driver(qMax(1, parser.value(runsOption).toInt()), parser.isSet(quickOption), cases);
    if (!driver.setUp())
        return 1;
    if (parser.isSet(serveOption)) {
        std::printf("%s\n", qPrintable(driver.mailboxes()));
        std::fflush(stdout);
        while (std::getchar() != EOF) {
        }
        return 0;
    }
    if (cases.contains(u"1"_s) || cases.contains(u"2"_s))
        driver.scanCases();
    if (cases.contains(u"3"_s))
        driver.keywordCase();
    if (cases.contains(u"4"_s))
        driver.streamCase();
    if (cases.contains(u"5"_s))
        driver.retrieveCase();
    if (cases.contains(u"6"_s))
        driver.idleCase();
    if (cases.contains(u"7"_s))
        driver.latencyCase();
    if (cases.contains(u"8"_s))
        driver.prefetchMemoryCase();
    if (cases.contains(u"9"_s))
        driver.senderListCase();
    if (cases.contains(u"10"_s))
        driver.judgeOnceCase();

    const QString header = u"Run %1 on %2 (%3 cores), %4; whole run %5 s.\n\n"_s.arg(
        QDateTime::currentDateTimeUtc().toString(u"yyyy-MM-dd HH:mm 'UTC'"_s), cpuModel(),
        QString::number(QThread::idealThreadCount()), QSysInfo::prettyProductName(),
        fixed(total.elapsed() / 1000.0, 0));
    const QString text = header + driver.table();
    std::printf("%s", qPrintable(text));
    if (parser.isSet(outputOption)) {
        QSaveFile out(parser.value(outputOption));
        if (!out.open(QIODevice::WriteOnly) || out.write(text.toUtf8()) < 0 || !out.commit())
            note(u"cannot write "_s + parser.value(outputOption));
    }
    return 0;
}
