#pragma once
// The tokens the learned filter counts: words of the decoded headers that
// describe the message (prefixed with the header's name, "subject:free"),
// the names of the other headers and the order they come in, words of the
// visible text, the hosts and path words of links ("url:example.com"), the
// kinds of parts, and the message's shape: how its mailer writes ids and
// dates, upper-case subjects and names, how many recipients, links and
// characters, HTML without plain text. All lower-cased.
//
// Headers of the way to the mailbox (delivery, mailing lists) give no
// tokens: spam and ham that took the same way share them. Only the first
// hop, which describes the sender's machine, gives its shape. For the same
// reason a message a list brought gives no words of its To and Cc (the
// list's address) nor of the list's pages, and a footer naming a mailing
// list is cut off the text. Each token is given once per message; a message
// yields at most MaxTokens, headers first, so a long body cannot push them
// out.
//
// Classifying needs only each token's id (TokenStore::tokenId of its text),
// so the ids are hashed straight from the message's text; a token's text is
// built only when asked for.

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace Scan {

class MimeText;

class Tokenizer final
{
    Q_DISABLE_COPY_MOVE(Tokenizer)

public:
    // Raised whenever the tokens a message gives change: a message learned
    // with other tokens is then forgotten or moved by its count alone.
    static constexpr int Version = 1;
    static constexpr int MaxTokens = 3000;
    static constexpr int MinWordLength = 3;
    static constexpr int MaxWordLength = 20;
    static constexpr int MaxHeaderTokens = 40;        // per header
    static constexpr qsizetype MaxTextChars = 300000; // of the visible text read per message

    // Tokenizes the message, which must outlive this object. `firstHop` is
    // the value of its last Received header (lastReceived()) for a message
    // decoded without it (ignoresValue).
    explicit Tokenizer(const MimeText &message, QStringView firstHop = {});

    // Distinct, in the order found.
    const QList<quint64> &ids() const { return m_ids; }
    QString text(qsizetype index) const;
    // Whether the token at index describes how the message was gathered
    // rather than what it says: see isContextToken().
    bool isContext(qsizetype index) const { return m_context.at(index); }

    // Tokens of the header order, the shapes of the id and the date, the
    // id's domain, which headers are present and the recipients: they tell
    // how a collection of mail was gathered as much as what a message is.
    static bool isContextToken(QStringView token);

    static QStringList tokens(const MimeText &message, QStringView firstHop = {});

    // Whether a header's value gives no tokens (the way to the mailbox):
    // it need not be decoded for the tokenizer. Of the Received headers
    // only the last is read, and decoding them all cost about 6 % of the
    // time of classifying: lastReceived() finds it in the raw message.
    static bool ignoresValue(const QString &name);
    static QString lastReceived(QByteArrayView message);

    // Words of a text, without prefix (the body's rule), distinct and bounded.
    static QStringList textTokens(QStringView text);

    // Runs of two to MaxPhraseWords words of `words` (lower-case) next to
    // each other in the text, as written there ("100% free"), lower-cased;
    // each phrase once, at most MaxPhrases.
    struct Phrase
    {
        QString text;
        QStringList words;
    };
    static constexpr int MaxPhraseWords = 4;
    static constexpr int MaxPhrases = 3;
    static QList<Phrase> phrases(QStringView text, const QStringList &words);

private:
    Tokenizer() = default;

    // A token is prefix + body, the body lower-cased when `lower` is set;
    // both are views into the message or into m_arena.
    struct Piece
    {
        QStringView prefix;
        QStringView body;
        bool lower;
    };

    void header(const QString &name, const QString &value);
    void sender(QStringView received);
    void text(QStringView text, QStringView prefix, int minLength, int limit);
    void word(QStringView word, QStringView prefix, int minLength, int *budget);
    void url(QStringView url, QStringView prefix);
    void host(QStringView host, QStringView prefix);
    void add(QStringView prefix, QStringView body, bool lower);
    QStringView keep(QString text);
    void growSlots();
    bool full() const { return m_ids.size() >= MaxTokens; }
    QStringList texts() const;

    QList<quint64> m_ids;
    QList<Piece> m_pieces;
    QList<bool> m_context;
    bool m_inContext = false;     // tokens added now are context tokens
    std::vector<quint64> m_slots; // open addressing over m_ids, 0 for empty
    bool m_zeroSeen = false;
    bool m_listMail = false;
    QString m_lastHeader;
    QList<QString> m_arena; // texts made here that tokens point into
};

} // namespace Scan
