#include "learn/learnedfilter.h"

#include "learn/tokenizer.h"
#include "mail/mimetext.h"

#include <QCryptographicHash>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <vector>

using namespace Qt::StringLiterals;

namespace Scan {

LearnedFilter::LearnedFilter(StateDatabase &database)
    : m_store(database)
{}

bool LearnedFilter::open()
{
    if (m_store.open())
        return true;
    m_error = m_store.errorText();
    return false;
}

QByteArray LearnedFilter::digest(const QByteArray &message)
{
    // Hashed a stretch between CRs at a time: a large message is not copied.
    QCryptographicHash hash(QCryptographicHash::Sha1);
    const QByteArrayView bytes(message);
    qsizetype from = 0;
    while (from < bytes.size()) {
        qsizetype cr = bytes.indexOf('\r', from);
        if (cr < 0)
            cr = bytes.size();
        hash.addData(bytes.sliced(from, cr - from));
        from = cr + 1;
    }
    return hash.result();
}

namespace {

QStringList learnedTokens(const QByteArray &message)
{
    QStringList tokens = Tokenizer::tokens(MimeText::decode(message));
    if (tokens.size() > LearnedFilter::MaxLearnedTokens)
        tokens.resize(LearnedFilter::MaxLearnedTokens);
    return tokens;
}

} // namespace

LearnedFilter::Prepared LearnedFilter::prepare(QByteArray message, Label label)
{
    Prepared prepared{digest(message), {}, label};
    // The decoder reads no further, so the rest is let go before it works
    // (when the caller handed the message over).
    if (message.size() > MimeText::MaxInputBytes) {
        message.truncate(MimeText::MaxInputBytes);
        message.squeeze();
    }
    prepared.tokens = learnedTokens(message);
    return prepared;
}

bool LearnedFilter::learn(const QList<Example> &batch)
{
    QList<Prepared> prepared;
    prepared.reserve(batch.size());
    for (const Example &example : batch)
        prepared.append(prepare(example.message, example.label));
    return learn(prepared);
}

bool LearnedFilter::learn(const QList<Prepared> &batch)
{
    QList<TokenStore::Change> changes;
    QHash<QByteArray, std::optional<Label>> pending;
    for (const Prepared &example : batch) {
        const auto seen = pending.constFind(example.digest);
        const std::optional<Label> current = seen != pending.cend() ? seen.value() : m_store.labelOf(example.digest);
        if (current == example.label)
            continue;
        if (current)
            changes.append({example.digest, example.tokens, *current, -1});
        changes.append({example.digest, example.tokens, example.label, 1});
        pending.insert(example.digest, example.label);
    }
    if (changes.isEmpty() || m_store.apply(changes))
        return true;
    m_error = m_store.errorText();
    return false;
}

bool LearnedFilter::unlearn(const QList<QByteArray> &messages)
{
    QList<TokenStore::Change> changes;
    QHash<QByteArray, std::optional<Label>> pending;
    for (const QByteArray &message : messages) {
        const QByteArray id = digest(message);
        const auto seen = pending.constFind(id);
        const std::optional<Label> current = seen != pending.cend() ? seen.value() : m_store.labelOf(id);
        if (!current)
            continue;
        changes.append({id, learnedTokens(message), *current, -1});
        pending.insert(id, std::nullopt);
    }
    if (changes.isEmpty() || m_store.apply(changes))
        return true;
    m_error = m_store.errorText();
    return false;
}

double LearnedFilter::tokenProbability(TokenStore::Counts counts) const
{
    const double spamRatio = double(counts.spam) / double(qMax<quint32>(1, m_store.spamMessages()));
    const double hamRatio = double(counts.ham) / double(qMax<quint32>(1, m_store.hamMessages()));
    if (spamRatio + hamRatio <= 0.0)
        return Assumed;
    const double p = spamRatio / (spamRatio + hamRatio);
    const double n = double(counts.spam) + double(counts.ham);
    return (Strength * Assumed + n * p) / (Strength + n);
}

double LearnedFilter::chi2Q(double x2, int degrees)
{
    // Sum of Poisson terms e^-m m^i / i!, each at most 1, formed in logs so
    // that neither a large m nor many terms under- or overflow.
    const double m = x2 / 2.0;
    if (m <= 0.0)
        return 1.0;
    const double logM = std::log(m);
    double logTerm = -m;
    double sum = std::exp(logTerm);
    for (int i = 1; i < degrees / 2; ++i) {
        logTerm += logM - std::log(double(i));
        sum += std::exp(logTerm);
    }
    return std::min(sum, 1.0);
}

LearnedFilter::Verdict LearnedFilter::classify(const QByteArray &message) const
{
    return classify(MimeText::decode(message));
}

LearnedFilter::Verdict LearnedFilter::classify(const MimeText &message) const
{
    const Tokenizer tokens(message);
    return classifyIds(tokens.ids(), [&](qsizetype i) { return tokens.text(i); });
}

LearnedFilter::Verdict LearnedFilter::classifyTokens(const QStringList &tokens) const
{
    QList<quint64> ids;
    ids.reserve(tokens.size());
    for (const QString &token : tokens)
        ids.append(TokenStore::tokenId(token));
    return classifyIds(ids, [&](qsizetype i) { return tokens.at(i); });
}

LearnedFilter::Verdict LearnedFilter::classifyIds(const QList<quint64> &ids,
                                                  const std::function<QString(qsizetype)> &text) const
{
    Verdict verdict;
    // Without both kinds learned every probability leans one way.
    if (m_store.spamMessages() == 0 || m_store.hamMessages() == 0)
        return verdict;
    struct Clue
    {
        double deviation;
        double probability;
        qsizetype index;
    };
    m_store.fetch(ids);
    std::vector<Clue> clues;
    clues.reserve(size_t(ids.size()));
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const TokenStore::Counts counts = m_store.counts(ids.at(i));
        if (counts.spam == 0 && counts.ham == 0)
            continue;
        const double f = tokenProbability(counts);
        const double deviation = std::fabs(f - 0.5);
        if (deviation >= MinDeviation)
            clues.push_back({deviation, f, i});
    }
    const auto stronger = [](const Clue &a, const Clue &b) {
        return a.deviation != b.deviation ? a.deviation > b.deviation : a.index < b.index;
    };
    if (clues.size() > size_t(MaxDiscriminators)) {
        std::nth_element(clues.begin(), clues.begin() + MaxDiscriminators, clues.end(), stronger);
        clues.resize(size_t(MaxDiscriminators));
    }
    if (clues.empty())
        return verdict;
    double logSpam = 0.0; // sum of ln(1 - f): very negative when the clues are spammy
    double logHam = 0.0;  // sum of ln(f): very negative when they are hammy
    for (const Clue &clue : clues) {
        logSpam += std::log(1.0 - clue.probability);
        logHam += std::log(clue.probability);
    }
    const int degrees = 2 * int(clues.size());
    const double spamminess = 1.0 - chi2Q(-2.0 * logSpam, degrees);
    const double hamminess = 1.0 - chi2Q(-2.0 * logHam, degrees);
    verdict.score = std::clamp((spamminess - hamminess + 1.0) / 2.0, 0.0, 1.0);
    verdict.tokensUsed = int(clues.size());

    const size_t shown = std::min(clues.size(), size_t(StrongestShown));
    std::partial_sort(clues.begin(), clues.begin() + qsizetype(shown), clues.end(), stronger);
    for (size_t i = 0; i < shown; ++i)
        verdict.strongest.append({text(clues[i].index), clues[i].probability});
    return verdict;
}

QString LearnedFilter::reason(const Verdict &verdict) { return u"learned filter %1"_s.arg(verdict.score, 0, 'f', 3); }

} // namespace Scan
