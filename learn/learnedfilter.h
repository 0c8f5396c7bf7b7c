#pragma once
// A filter that learns from the user's mail: Robinson's per-token
// probabilities with Fisher's chi-square combining over the tokens of the
// decoded message. The score runs from 0 (ham) to 1 (spam); a message
// scoring above the threshold is condemned, with the reason
// "learned filter" and its score.

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

    // Chosen from the benchmark (bench/learned.sh) for very few false positives.
    static constexpr double DefaultThreshold = 0.95;
    // Robinson's strength and assumed probability of a token seen rarely.
    static constexpr double Strength = 1.0;
    static constexpr double Assumed = 0.5;
    // Tokens this close to 0.5 say nothing and are left out.
    static constexpr double MinDeviation = 0.1;
    // At most this many of the strongest tokens are combined: as many as a
    // message can give. Capping them at a few hundred lost spam on the
    // benchmark without sparing any ham.
    static constexpr int MaxDiscriminators = 3000;
    static constexpr int StrongestShown = 5;
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
    // Takes messages back out; unknown messages are ignored.
    bool unlearn(const QList<QByteArray> &messages);

    Verdict classify(const QByteArray &message) const;
    Verdict classify(const MimeText &message) const;
    Verdict classifyTokens(const QStringList &tokens) const;

    double tokenProbability(TokenStore::Counts counts) const;
    quint32 spamMessages() const { return m_store.spamMessages(); }
    quint32 hamMessages() const { return m_store.hamMessages(); }
    const TokenStore &store() const { return m_store; }
    TokenStore &store() { return m_store; }

    // The verdict's reason as the scan shows it.
    static QString reason(const Verdict &verdict);
    // A message's identity, the same whichever line ends it arrived with.
    static QByteArray digest(const QByteArray &message);
    // Fisher's inverse chi-square: P(chi2 >= x2) with `degrees` (even) freedom.
    static double chi2Q(double x2, int degrees);

private:
    Verdict classifyIds(const QList<quint64> &ids, const std::function<QString(qsizetype)> &text) const;

    TokenStore m_store;
    QString m_error;
};

} // namespace Scan
