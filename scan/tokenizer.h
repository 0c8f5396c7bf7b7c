#pragma once
// The tokens the learned filter counts: words of the decoded headers that
// describe the message (prefixed with the header's name, "subject:free"),
// the names of the other headers, words of the visible text, the hosts and
// path words of links ("url:example.com") and the kinds of parts, all
// lower-cased. Headers of the way to the mailbox (delivery, mailing lists)
// give no tokens: spam and ham that took the same way share them. Each token is given once per message; a message yields at
// most MaxTokens, headers first, so a long body cannot push them out.

#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace Scan {

class MimeText;

class Tokenizer final
{
public:
    static constexpr int MaxTokens = 3000;
    static constexpr int MinWordLength = 3;
    static constexpr int MaxWordLength = 20;
    static constexpr int MaxHeaderTokens = 40;        // per header
    static constexpr qsizetype MaxTextChars = 300000; // of the visible text read per message

    static QStringList tokens(const MimeText &message);

    // Words of a text, without prefix (the body's rule), distinct and bounded.
    static QStringList textTokens(QStringView text);

private:
    Tokenizer() = default;

    void header(const QString &name, const QString &value);
    void text(QStringView text, QStringView prefix, int minLength, int limit);
    void word(QStringView word, QStringView prefix, int minLength, int *budget);
    void url(QStringView url, QStringView prefix);
    void host(QString host, QStringView prefix);
    void add(const QString &token);
    bool full() const { return m_tokens.size() >= MaxTokens; }

    QStringList m_tokens;
    QSet<QString> m_seen;
};

} // namespace Scan
