#include "learn/learnedfilter.h"

#include "learn/tokenizer.h"
#include "mail/mimetext.h"

#include <QCryptographicHash>
#include <QHash>
#include <QSet>

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
    QStringList tokens =
        Tokenizer::tokens(MimeText::decode(message, &Tokenizer::ignoresValue), Tokenizer::lastReceived(message));
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

bool LearnedFilter::unlearn(const QList<Prepared> &batch)
{
    QList<TokenStore::Change> changes;
    QSet<QByteArray> pending;
    for (const Prepared &example : batch) {
        if (pending.contains(example.digest))
            continue;
        const std::optional<Label> current = m_store.labelOf(example.digest);
        if (!current)
            continue;
        changes.append({example.digest, example.tokens, *current, -1});
        pending.insert(example.digest);
    }
    if (changes.isEmpty() || m_store.apply(changes))
        return true;
    m_error = m_store.errorText();
    return false;
}

double LearnedFilter::tokenProbability(TokenStore::Counts counts, double strength) const
{
    const double spamRatio = double(counts.spam) / double(qMax<quint32>(1, m_store.spamMessages()));
    const double hamRatio = double(counts.ham) / double(qMax<quint32>(1, m_store.hamMessages()));
    if (spamRatio + hamRatio <= 0.0)
        return Assumed;
    const double p = spamRatio / (spamRatio + hamRatio);
    const double n = double(counts.spam) + double(counts.ham);
    return (strength * Assumed + n * p) / (strength + n);
}

double LearnedFilter::reliance() const
{
    const double learned = double(m_store.spamMessages()) + double(m_store.hamMessages());
    return std::clamp(std::sqrt(learned / ReferenceMessages), MinReliance, 1.0);
}

double LearnedFilter::chi2Q(double x2, int degrees)
{
    // Sum of the Poisson terms e^-m m^i / i! for i below degrees / 2, each at
    // most 1: the largest in range is formed in logs (so neither a large m
    // nor many terms under- or overflow), the others from it outwards until
    // they no longer change the sum. They fall on both sides of it.
    const double m = x2 / 2.0;
    if (m <= 0.0)
        return 1.0;
    const int terms = degrees / 2;
    const int peak = int(std::min(std::floor(m), double(terms - 1)));
    const double top = std::exp(-m + peak * std::log(m) - std::lgamma(peak + 1.0));
    double sum = top;
    double term = top;
    for (int i = peak; i > 0 && term > sum * Negligible; --i) {
        term *= double(i) / m;
        sum += term;
    }
    term = top;
    for (int i = peak + 1; i < terms && term > sum * Negligible; ++i) {
        term *= m / double(i);
        sum += term;
    }
    return std::min(sum, 1.0);
}

namespace {

// Fisher's combining of token probabilities into one score.
struct Sums
{
    double logSpam = 0.0; // sum of ln(1 - f): very negative when the clues are spammy
    double logHam = 0.0;  // sum of ln(f): very negative when they are hammy
    int count = 0;

    void add(double logOneMinusF, double logF)
    {
        logSpam += logOneMinusF;
        logHam += logF;
        ++count;
    }
    // `dependence` clues count as one independent one.
    double score(double dependence) const
    {
        if (count == 0)
            return 0.5;
        const int degrees = 2 * std::max(1, int(std::lround(count / dependence)));
        const double spamminess = 1.0 - LearnedFilter::chi2Q(-2.0 * logSpam / dependence, degrees);
        const double hamminess = 1.0 - LearnedFilter::chi2Q(-2.0 * logHam / dependence, degrees);
        return std::clamp((spamminess - hamminess + 1.0) / 2.0, 0.0, 1.0);
    }
};

} // namespace

LearnedFilter::Verdict LearnedFilter::classify(const QByteArray &message) const
{
    return classify(MimeText::decode(message, &Tokenizer::ignoresValue), Tokenizer::lastReceived(message));
}

LearnedFilter::Verdict LearnedFilter::classify(const MimeText &message, QStringView firstHop) const
{
    const Tokenizer tokens(message, firstHop);
    Verdict verdict = classifyIds(
        tokens.ids(), [&](qsizetype i) { return tokens.isContext(i); }, [&](qsizetype i) { return tokens.text(i); });
    joinPhrases(&verdict, message);
    return verdict;
}

LearnedFilter::Verdict LearnedFilter::classifyTokens(const QStringList &tokens) const
{
    QList<quint64> ids;
    ids.reserve(tokens.size());
    for (const QString &token : tokens)
        ids.append(TokenStore::tokenId(token));
    return classifyIds(
        ids, [&](qsizetype i) { return Tokenizer::isContextToken(tokens.at(i)); },
        [&](qsizetype i) { return tokens.at(i); });
}

LearnedFilter::Verdict LearnedFilter::classifyIds(const QList<quint64> &ids,
                                                  const std::function<bool(qsizetype)> &context,
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
        bool context;
    };
    QList<TokenStore::Counts> found;
    m_store.fetch(ids, &found);
    const double strength = reliance();
    std::vector<Clue> clues;
    clues.reserve(size_t(ids.size()));
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const TokenStore::Counts counts = found.at(i);
        if (counts.spam == 0 && counts.ham == 0)
            continue;
        const double f = tokenProbability(counts, strength);
        const double deviation = std::fabs(f - 0.5);
        if (deviation >= MinDeviation)
            clues.push_back({deviation, f, i, context(i)});
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
    // The score of all clues and that of the clues about the message
    // alone; the lower counts, so tokens of how mail was gathered can
    // acquit a message but never condemn it without its words.
    Sums all;
    Sums words;
    for (const Clue &clue : clues) {
        const double logOneMinusF = std::log(1.0 - clue.probability);
        const double logF = std::log(clue.probability);
        all.add(logOneMinusF, logF);
        if (!clue.context)
            words.add(logOneMinusF, logF);
    }
    const double dependence = 1.0 / strength;
    verdict.score = std::min(all.score(dependence), words.score(dependence));
    verdict.tokensUsed = int(clues.size());

    const size_t shown = std::min(clues.size(), size_t(StrongestShown));
    std::partial_sort(clues.begin(), clues.begin() + qsizetype(shown), clues.end(), stronger);
    for (size_t i = 0; i < shown; ++i)
        verdict.strongest.append({text(clues[i].index), clues[i].probability});

    // The reasons: the spam side's strongest clues that are about the
    // message, each said once. A message leaning to ham needs none.
    if (verdict.score <= 0.5)
        return verdict;
    std::vector<Clue> spamSide;
    for (const Clue &clue : clues) {
        if (clue.probability > 0.5 && !clue.context)
            spamSide.push_back(clue);
    }
    const size_t candidates = std::min(spamSide.size(), size_t(ReasonCandidates));
    std::partial_sort(spamSide.begin(), spamSide.begin() + qsizetype(candidates), spamSide.end(), stronger);
    for (size_t i = 0; i < candidates && verdict.reasons.size() < StrongestShown; ++i) {
        const QString token = text(spamSide[i].index);
        const QString words = describe(token, found.at(spamSide[i].index));
        if (!words.isEmpty() && !verdict.reasons.contains(words))
            verdict.reasons.append(words);
    }
    return verdict;
}

QString LearnedFilter::reason(const Verdict &verdict)
{
    return verdict.reasons.isEmpty() ? u"many small signs, none strong alone"_s : verdict.reasons.join(u", "_s);
}

namespace {

QString quoted(QStringView word) { return u'"' + word.toString() + u'"'; }

// A reason that is words of the text and nothing else: "\"100% free\"".
bool isQuotedText(const QString &reason)
{
    return reason.size() > 2 && reason.startsWith(u'"') && reason.endsWith(u'"') && reason.count(u'"') == 2;
}

// The shape tokens, in words.
QString describeShape(QStringView shape)
{
    static const QHash<QString, QString> words = {
        {u"html-only"_s, u"HTML without a plain-text version"_s},
        {u"links-0"_s, u"no links"_s},
        {u"links-1"_s, u"one link"_s},
        {u"links-2"_s, u"two or three links"_s},
        {u"links-3"_s, u"several links"_s},
        {u"links-4"_s, u"many links"_s},
        {u"links-5"_s, u"very many links"_s},
        {u"chars-0"_s, u"almost no text"_s},
        {u"chars-1"_s, u"little text"_s},
        {u"chars-2"_s, u"a page of text"_s},
        {u"chars-3"_s, u"a long text"_s},
        {u"chars-4"_s, u"a very long text"_s},
        {u"caps"_s, u"subject in capitals"_s},
        {u"bang"_s, u"\"!\" in the subject"_s},
        {u"dollar"_s, u"\"$\" in the subject"_s},
        {u"bare"_s, u"sender without a name"_s},
        {u"address-as-name"_s, u"an address as the sender's name"_s},
        {u"caps-name"_s, u"sender's name in capitals"_s},
        {u"digits"_s, u"sender's address full of digits"_s},
        {u"helo-ip"_s, u"sender's machine named by its address"_s},
        {u"helo-bare"_s, u"sender's machine without a domain"_s},
        {u"no-name"_s, u"sender's address without a name"_s},
        {u"forged"_s, u"sender's machine not what it claimed"_s},
    };
    return words.value(shape.toString());
}

// A word, link or address of the text, in words.
QString describeText(QStringView text)
{
    if (text.startsWith(u"skip:"))
        return u"long runs of letters without spaces"_s;
    if (text.startsWith(u"url:")) {
        const QStringView rest = text.mid(4);
        if (rest == u"ip")
            return u"link to a numeric address"_s;
        return rest.contains(u'.') ? u"link to "_s + rest.toString() : quoted(rest) + u" in a link"_s;
    }
    if (text.contains(u'@'))
        return u"address "_s + text.toString();
    return quoted(text);
}

} // namespace

QString LearnedFilter::describe(const QString &token, TokenStore::Counts counts)
{
    if (Tokenizer::isContextToken(token))
        return {};
    const qsizetype colon = token.indexOf(u':');
    const QStringView prefix = QStringView(token).left(qMax<qsizetype>(0, colon));
    const QStringView rest = QStringView(token).mid(colon + 1);
    if (prefix == u"subject")
        return describeText(rest) + u" in the subject"_s;
    if (prefix == u"from" || prefix == u"reply-to") {
        const bool from = prefix == u"from";
        if (!rest.contains(u'@'))
            return (from ? u"sender's name "_s : u"reply name "_s) + quoted(rest);
        if (counts.ham == 0)
            return from ? u"sender never seen in legitimate mail"_s : u"reply address never seen in legitimate mail"_s;
        if (rest.startsWith(u'@'))
            return (from ? u"sender's domain "_s : u"reply address's domain "_s) + rest.mid(1).toString();
        return (from ? u"sender "_s : u"reply address "_s) + rest.toString();
    }
    if (prefix == u"x-mailer" || prefix == u"user-agent" || prefix == u"x-mimeole")
        return u"mail program "_s + quoted(rest);
    if (prefix == u"organization")
        return u"organization "_s + quoted(rest);
    if (prefix == u"content-type" || prefix == u"content-transfer-encoding" || prefix == u"mime-version")
        return u"format "_s + quoted(rest);
    if (prefix == u"x-priority" || prefix == u"x-msmail-priority" || prefix == u"importance")
        return u"marked as priority "_s + quoted(rest);
    if (prefix == u"part")
        return u"a part of type "_s + rest.toString();
    if (prefix == u"charset")
        return u"written in character set "_s + rest.toString();
    if (prefix == u"attachment")
        return u"an attached ."_s + rest.toString() + u" file"_s;
    if (prefix == u"shape" || prefix == u"subject-shape" || prefix == u"from-shape" || prefix == u"sender-shape")
        return describeShape(rest);
    return describeText(token);
}

void LearnedFilter::joinPhrases(Verdict *verdict, const MimeText &message)
{
    // Quoted single words only: a phrase is made of words of the text.
    QStringList words;
    for (const QString &r : std::as_const(verdict->reasons)) {
        if (isQuotedText(r) && !r.contains(u' '))
            words.append(r.mid(1, r.size() - 2));
    }
    if (words.size() < 2)
        return;
    QString text = message.subject();
    for (const QString &t : message.texts()) {
        if (text.size() >= PhraseTextChars)
            break;
        text += u'\n' + QStringView(t).left(PhraseTextChars - text.size());
    }
    for (const Tokenizer::Phrase &phrase : Tokenizer::phrases(text, words)) {
        // The phrase takes the place of its strongest word; its other words go.
        qsizetype first = -1;
        for (const QString &w : phrase.words) {
            const qsizetype at = verdict->reasons.indexOf(quoted(w));
            if (at < 0)
                continue;
            if (first < 0 || at < first)
                first = at;
        }
        if (first < 0)
            continue;
        const QString joined = quoted(phrase.text);
        verdict->reasons[first] = joined;
        for (const QString &w : phrase.words)
            verdict->reasons.removeAll(quoted(w));
        if (!verdict->reasons.contains(joined))
            verdict->reasons.insert(qMin(first, verdict->reasons.size()), joined);
    }
    // A phrase inside a longer one says nothing more.
    const QStringList reasons = verdict->reasons;
    verdict->reasons.removeIf([&](const QString &r) {
        const QString inner = QString(u' ' + r.mid(1, r.size() - 2) + u' ');
        return isQuotedText(r) && std::any_of(reasons.cbegin(), reasons.cend(), [&](const QString &longer) {
                   return longer.size() > r.size() && isQuotedText(longer)
                          && QString(u' ' + longer.mid(1, longer.size() - 2) + u' ').contains(inner);
               });
    });
}

} // namespace Scan
