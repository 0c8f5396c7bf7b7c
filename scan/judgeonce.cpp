#include "scan/judgeonce.h"

#include "pop3/host/tarnpostproxy.h"
#include "state/statedatabase.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>

#include <limits>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// Raised when what a rule condemns changes without a change of its inputs,
// so that an update judges every message again.
constexpr int RulesScheme = 2;

void addText(QCryptographicHash &hash, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    // The length first: entries "ab","c" and "a","bc" must not hash alike.
    hash.addData(QByteArray(QByteArray::number(bytes.size()) + ':'));
    hash.addData(bytes);
}

// The memories only from a table SQLite finds whole: damage it does not
// stumble on while reading could otherwise hide rows.
std::optional<JudgedMessages::Account> trustedAccount(StateDatabase &database, const QString &server,
                                                      const QString &login, const QString &rules, QString *error)
{
    if (!database.checkTables({u"judged_messages"_s})) {
        *error = database.errorText();
        return std::nullopt;
    }
    const JudgedMessages memory(database);
    std::optional<JudgedMessages::Account> account = memory.account(server, login, rules);
    if (!account)
        *error = memory.errorText();
    return account;
}

} // namespace

QString JudgeOnce::version(const QList<RuleInputs> &rules)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    addText(hash, u"rules %1"_s.arg(RulesScheme));
    for (const RuleInputs &rule : rules) {
        addText(hash, rule.rule);
        // A rule that is off condemns nothing, whatever its list holds.
        addText(hash, rule.inputs ? u"on %1"_s.arg(rule.inputs->size()) : u"off"_s);
        if (!rule.inputs)
            continue;
        for (const QString &input : *rule.inputs)
            addText(hash, input);
    }
    return u"%1:"_s.arg(RulesScheme) + QString::fromLatin1(hash.result().toHex());
}

struct JudgeOnce::Read
{
    QString server;
    QString login;
    QString rules;
    std::optional<Known> known;
    QString error;
};

JudgeOnce::Known JudgeOnce::slotsOf(const JudgedMessages::Account &account, const QString &rules)
{
    Known known;
    known.reserve(size_t(account.size()));
    for (auto it = account.cbegin(); it != account.cend(); ++it) {
        Slot slot{{it.key(), it->fingerprint}, it->fetchedSize, it->rules == rules};
        const QStringView key(slot.id.uid);
        known.emplace(key, std::move(slot));
    }
    return known;
}

JudgeOnce::JudgeOnce(StateDatabase &database)
    : m_database(database)
    , m_memory(std::make_unique<JudgedMessages>(database))
{}

JudgeOnce::~JudgeOnce()
{
    // A read ends within the database's busy timeout.
    if (m_reader)
        m_reader->wait();
}

void JudgeOnce::prepare(const QString &server, const QString &login, const QString &rulesVersion)
{
    waitForReader();
    auto read = std::make_shared<Read>(Read{server, login, rulesVersion, std::nullopt, QString()});
    const QString folder = QFileInfo(m_database.path()).absolutePath();
    m_read = read;
    m_reader.reset(QThread::create([read, folder] {
        // Connections belong to the thread that opened them.
        StateDatabase database(folder);
        if (!database.open()) {
            read->error = database.errorText();
            return;
        }
        if (const auto account = trustedAccount(database, read->server, read->login, read->rules, &read->error))
            read->known = slotsOf(*account, read->rules);
    }));
    m_reader->start();
}

void JudgeOnce::waitForReader()
{
    if (!m_reader)
        return;
    QEventLoop loop;
    QObject::connect(m_reader.get(), &QThread::finished, &loop, &QEventLoop::quit);
    if (!m_reader->isFinished())
        loop.exec();
    m_reader->wait();
    m_reader.reset();
}

std::optional<JudgeOnce::Known> JudgeOnce::readAccount(const QString &server, const QString &login)
{
    waitForReader();
    const std::shared_ptr<Read> read = std::exchange(m_read, nullptr);
    if (read && read->server == server && read->login == login && read->rules == m_rules) {
        if (!read->known)
            m_error = read->error;
        return std::move(read->known);
    }
    if (const auto account = trustedAccount(m_database, server, login, m_rules, &m_error))
        return slotsOf(*account, m_rules);
    return std::nullopt;
}

bool JudgeOnce::begin(Automation::TarnpostProxy &control, const QString &server, const QString &login,
                      const QString &rulesVersion, const QSet<QString> &decided)
{
    m_server = server;
    m_login = login;
    m_rules = rulesVersion;
    m_known.clear();
    m_listed = false;
    m_passed.clear();
    m_kept.clear();
    m_condemned.clear();
    std::optional<Known> known = readAccount(server, login);
    m_trusted = known.has_value();
    if (!known)
        return false;
    m_known = std::move(*known);
    if (m_known.empty())
        return true;
    for (const QString &uid : decided) {
        if (const auto slot = m_known.find(uid); slot != m_known.end())
            slot->second.decided = true;
    }

    // The listing the prefetching session fetches anyway; empty without UIDL.
    const QString listing = control.GetUniqueIDList();
    int last = 0;
    for (const QStringView line : QStringView(listing).split(u"\r\n"_s, Qt::SkipEmptyParts)) {
        const qsizetype blank = line.indexOf(u' ');
        bool ok = false;
        const int number = blank > 0 ? line.left(blank).toInt(&ok) : 0;
        if (!ok || number < 1 || number > std::numeric_limits<qint16>::max())
            continue;
        m_listed = true;
        const auto found = m_known.find(line.sliced(blank + 1));
        if (found == m_known.end())
            continue;
        Slot &slot = found->second;
        // An id given twice names no message for certain: both are fetched.
        slot.twice = slot.listedAs != 0;
        slot.listedAs = qint16(number);
        last = qMax(last, number);
    }
    m_passed.assign(size_t(last) + 1, nullptr);
    for (auto &[uid, slot] : m_known) {
        if (slot.listedAs == 0 || !slot.sameRules || slot.twice || slot.decided)
            continue;
        // It refuses only numbers outside the mailbox and a lost session,
        // which ends the walk anyway.
        control.SkipMsg(slot.listedAs);
        m_passed[size_t(slot.listedAs)] = &slot.id;
    }
    return true;
}

const JudgeOnce::PassedOver *JudgeOnce::passedOver(qint16 number) const
{
    return number > 0 && size_t(number) < m_passed.size() ? m_passed[size_t(number)] : nullptr;
}

bool JudgeOnce::remembers(const QString &uid, const QString &fingerprint, qint64 fetchedSize) const
{
    const auto found = m_known.find(uid);
    return found != m_known.end() && found->second.sameRules && found->second.id.fingerprint == fingerprint
           && found->second.fetchedSize == fetchedSize;
}

void JudgeOnce::judged(const QString &uid, const QString &fingerprint, qint64 fetchedSize, bool kept)
{
    if (uid.isEmpty())
        return;
    if (kept)
        m_kept.insert(uid, {fingerprint, fetchedSize, m_rules});
    else
        m_condemned.append(uid);
}

bool JudgeOnce::finish(const QHash<QString, int> &seen, bool complete)
{
    // Nothing is written into memories that could not be read.
    if (!m_trusted)
        return true;
    QStringList forget = m_condemned;
    if (complete) {
        // The messages passed over were not walked, but the listing names them.
        for (const auto &[uid, slot] : m_known) {
            if (m_listed ? slot.listedAs == 0 : !seen.contains(slot.id.uid))
                forget.append(slot.id.uid);
        }
    }
    // A condemned copy under the same id as a kept one: neither is remembered.
    for (const QString &uid : std::as_const(m_condemned))
        m_kept.remove(uid);
    const bool done = m_memory->update(m_server, m_login, m_kept, forget);
    if (!done)
        m_error = m_memory->errorText();
    m_kept.clear();
    m_condemned.clear();
    return done;
}

bool JudgeOnce::forgetAll(const QString &folder, QString *error)
{
    StateDatabase database(folder);
    if (!database.open()) {
        *error = database.errorText();
        return false;
    }
    JudgedMessages memory(database);
    if (!memory.forgetAll()) {
        *error = memory.errorText();
        return false;
    }
    return true;
}

} // namespace Scan
