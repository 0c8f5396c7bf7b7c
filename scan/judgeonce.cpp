#include "scan/judgeonce.h"

#include "pop3/host/tarnpostproxy.h"
#include "state/statedatabase.h"

#include <QCryptographicHash>

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

JudgeOnce::JudgeOnce(StateDatabase &database)
    : m_database(database)
{}

JudgeOnce::~JudgeOnce() = default;

bool JudgeOnce::open()
{
    if (!m_database.checkTables({u"judged_messages"_s})) {
        m_error = m_database.errorText();
        return false;
    }
    m_memory = std::make_unique<JudgedMessages>(m_database);
    return true;
}

bool JudgeOnce::begin(Automation::TarnpostProxy &control, const QString &server, const QString &login,
                      const QString &rulesVersion, const QSet<QString> &decided)
{
    m_server = server;
    m_login = login;
    m_rules = rulesVersion;
    m_known.clear();
    m_listed.clear();
    m_passed.clear();
    m_kept.clear();
    m_condemned.clear();
    if (!m_memory)
        return false;
    const std::optional<JudgedMessages::Account> known = m_memory->account(server, login, m_rules);
    if (!known) {
        m_error = m_memory->errorText();
        return false;
    }
    m_known = *known;
    if (m_known.isEmpty())
        return true;

    // The listing the prefetching session fetches anyway; empty without UIDL.
    const QString listing = control.GetUniqueIDList();
    m_listed.reserve(m_known.size());
    QSet<QString> twice;
    for (const QStringView line : QStringView(listing).split(u"\r\n"_s, Qt::SkipEmptyParts)) {
        const qsizetype blank = line.indexOf(u' ');
        bool ok = false;
        const int number = blank > 0 ? line.left(blank).toInt(&ok) : 0;
        if (!ok || number < 1 || number > std::numeric_limits<qint16>::max())
            continue;
        const QString uid = line.mid(blank + 1).toString();
        if (m_listed.contains(uid))
            twice.insert(uid);
        m_listed.insert(uid, qint16(number));
    }
    for (auto it = m_listed.cbegin(); it != m_listed.cend(); ++it) {
        const auto memory = m_known.constFind(it.key());
        // An id given twice names no message for certain: both are fetched.
        if (memory == m_known.cend() || memory->rules != m_rules || twice.contains(it.key())
            || decided.contains(it.key()))
            continue;
        // It refuses only numbers outside the mailbox and a lost session,
        // which ends the walk anyway.
        control.SkipMsg(it.value());
        m_passed.insert(it.value(), {it.key(), memory->fingerprint});
    }
    return true;
}

const JudgeOnce::PassedOver *JudgeOnce::passedOver(qint16 number) const
{
    const auto it = m_passed.constFind(number);
    return it == m_passed.cend() ? nullptr : &*it;
}

bool JudgeOnce::remembers(const QString &uid, const QString &fingerprint, qint64 fetchedSize) const
{
    const auto memory = m_known.constFind(uid);
    return memory != m_known.cend() && memory->rules == m_rules && memory->fingerprint == fingerprint
           && memory->fetchedSize == fetchedSize;
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
    if (!m_memory)
        return false;
    QStringList forget = m_condemned;
    if (complete) {
        // The messages passed over were not walked, but the listing names them.
        const bool listed = !m_listed.isEmpty();
        for (auto it = m_known.cbegin(); it != m_known.cend(); ++it) {
            if (listed ? !m_listed.contains(it.key()) : !seen.contains(it.key()))
                forget.append(it.key());
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
