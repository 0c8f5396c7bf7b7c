#pragma once
// A filter that learns from the user's mail: Robinson's per-token
// probabilities with Fisher's chi-square combining over the tokens of the
// decoded message. The score runs from 0 (ham) to 1 (spam); a message
// scoring above the threshold is condemned, with the reason
// "learned filter", its score and the words that weighed most.

#include "learn/tokenstore.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class StateDatabase;

namespace Scan {

class MimeText;

class LearnedFilter final
{
    Q_DISABLE_COPY_MOVE(LearnedFilter)

public:
    using Label = TokenStore::Label;

    // The lowest at which no fold of the benchmark's cross-validation
    // (bench/learned.sh) condemned more than 0.3 % of its ham, nor the
    // folds 0.1 % on average.
    static constexpr double DefaultThreshold = 0.99;
    // Robinson's assumed probability of a token seen rarely.
    static constexpr double Assumed = 0.5;
    // How far the counts can be trusted grows with what was learned:
    // r = sqrt(learned / ReferenceMessages), within [MinReliance, 1].
    // Robinson's strength is r, as a token seen once among a few hundred
    // messages says more than one seen once among thousands; and Fisher's
    // combining counts 1 / r clues as one, as in a small store most tokens
    // of a message stand for the same thing (commercial or personal mail).
    // After 100 + 100 messages a fixed strength of 1 and independent clues
    // put 1.5 % of ham above 0.99 (bench/learned.sh); stores of
    // ReferenceMessages and more score as before.
    static constexpr double ReferenceMessages = 5000.0;
    static constexpr double MinReliance = 0.1;
    // Tokens this close to 0.5 say nothing and are left out. 0.2 caught
    // the most spam over the cross-validation folds (0.1, 0.2, 0.3 tried).
    static constexpr double MinDeviation = 0.2;
    // At most this many of the strongest tokens are combined: as many as a
    // message can give. Capping them at a few hundred lost spam on the
    // benchmark without sparing any ham.
    static constexpr int MaxDiscriminators = 3000;
    static constexpr int StrongestShown = 5;
    // Spam-side tokens looked at for the reasons (several may say the same).
    static constexpr int ReasonCandidates = 20;
    // Text searched for phrases of the reasons' words.
    static constexpr qsizetype PhraseTextChars = 5000;
    // A message teaches the store its first this many distinct tokens
    // (headers come first), the same ones when it is unlearned. On the
    // benchmark 2000 lose nothing; 1500 and 1000 lost spam, and a sample
    // spread over the whole message lost more.
    static constexpr int MaxLearnedTokens = 2000;

    struct Evidence
    {
        QString token;
        double probability = 0.5;
    };
    struct Verdict
    {
        double score = 0.5;
        int tokensUsed = 0;
        QList<Evidence> strongest; // at most StrongestShown, strongest first
        // What spoke most for spam, in words a user reads ("\"mortgage\"",
        // "link to example.com"), at most StrongestShown, strongest first;
        // none when the score leans to ham.
        QStringList reasons;
    };
    struct Example
    {
        QByteArray message; // raw bytes
        Label label = Label::Spam;
    };
    // A message reduced to what learning keeps of it, so that a batch
    // holds no message text.
    struct Prepared
    {
        QByteArray digest;
        QStringList tokens; // at most MaxLearnedTokens
        Label label = Label::Spam;
    };

    explicit LearnedFilter(StateDatabase &database);

    // Loads the counts (the database must be open).
    bool open();
    QString errorText() const { return m_error; }

    // Hand the message over (std::move) so that a large one is not held
    // whole while it is decoded.
    static Prepared prepare(QByteArray message, Label label);

    // Each call is one transaction. A message learned before with the same
    // label counts once; with the other label it is moved.
    bool learn(const QList<Example> &batch);
    bool learn(const QList<Prepared> &batch);
    // Takes messages back out, each with the label it was learned with;
    // unknown messages are ignored.
    bool unlearn(const QList<QByteArray> &messages);
    bool unlearn(const QList<Prepared> &batch);

    Verdict classify(const QByteArray &message) const;
    // firstHop: see Tokenizer.
    Verdict classify(const MimeText &message, QStringView firstHop = {}) const;
    Verdict classifyTokens(const QStringList &tokens) const;

    quint32 spamMessages() const { return m_store.spamMessages(); }
    quint32 hamMessages() const { return m_store.hamMessages(); }
    const TokenStore &store() const { return m_store; }
    TokenStore &store() { return m_store; }

    // The verdict's reasons as the Spam tab shows them, in one line.
    static QString reason(const Verdict &verdict);
    // A token in words: "\"free\" in the subject"; empty for a token that
    // describes how mail was gathered, which is never a reason.
    static QString describe(const QString &token, TokenStore::Counts counts);
    // A message's identity, the same whichever line ends it arrived with.
    static QByteArray digest(const QByteArray &message);
    // Fisher's inverse chi-square: P(chi2 >= x2) with `degrees` (even) freedom.
    static double chi2Q(double x2, int degrees);
    // A term this much smaller than the sum so far ends chi2Q's series.
    static constexpr double Negligible = 1e-17;

private:
    // Adjacent words of the reasons become one phrase ("100% free").
    static void joinPhrases(Verdict *verdict, const MimeText &message);
    // r above: Robinson's strength; 1 / r clues count as one.
    double reliance() const;
    double tokenProbability(TokenStore::Counts counts, double strength) const;
    Verdict classifyIds(const QList<quint64> &ids, const std::function<bool(qsizetype)> &context,
                        const std::function<QString(qsizetype)> &text) const;

    TokenStore m_store;
    QString m_error;
};

} // namespace Scan
