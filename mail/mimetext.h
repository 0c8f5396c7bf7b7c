#pragma once
// The decoded text of one message, as a reader sees it: the subject and the
// From value with their encoded words decoded, every header decoded, and
// the visible text of every text part (transfer encodings undone, charsets
// converted, HTML reduced to its text). The rules match this in addition
// to the raw text, never instead of it: whatever a broken message hides
// from the decoder is still in the raw text.
//
// The work is bounded for hostile input: the bytes parsed, the nesting
// followed, the parts and headers kept and the text decoded all have caps;
// truncated() tells that one was reached.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace Scan {

class MimeText final
{
public:
    static constexpr qsizetype MaxInputBytes = 16 * 1024 * 1024;
    static constexpr int MaxDepth = 16;
    static constexpr int MaxParts = 256;
    static constexpr int MaxHeaders = 256;
    static constexpr qsizetype MaxHeaderChars = 4096;
    static constexpr qsizetype MaxTextChars = 2 * 1024 * 1024;

    struct Header
    {
        QString name;  // as written in the message
        QString value; // unfolded, encoded words decoded
    };
    struct Part
    {
        QString mimeType; // lower case, "type/subtype"
        QString charset;  // lower case, empty when none is given
        QString fileName;
    };

    // Headers whose values a reader does not need, by name as written: such
    // a header keeps its name and an empty value, and is not decoded.
    using SkipValue = bool (*)(const QString &name);

    // The message's bytes, headers and body (one char per byte).
    static MimeText decode(const QByteArray &message, SkipValue skipValue = nullptr);
    // The message as the control holds it after a retrieval: the header
    // block and the body, one character per byte.
    static MimeText decodeControlText(const QString &headers, const QString &body);
    static QByteArray joinControlText(const QString &headers, const QString &body);

    // Text in a declared charset, or UTF-8 where valid and Latin-1 otherwise
    // when the charset is missing or unknown. Never loses a byte silently.
    static QString toUnicode(const QByteArray &bytes, const QByteArray &charset);

    const QString &subject() const { return m_subject; }
    const QString &from() const { return m_from; }
    const QList<Header> &headers() const { return m_headers; }
    // The visible text of each text part, in message order.
    const QStringList &texts() const { return m_texts; }
    // Every text part's text on lines of its own: what the keyword rule
    // reads as the decoded body.
    QString bodyText() const { return m_texts.join(u'\n'); }
    // Link targets of HTML parts (not visible, so not in texts()).
    const QStringList &links() const { return m_links; }
    const QList<Part> &parts() const { return m_parts; }
    bool truncated() const { return m_truncated; }

private:
    friend class MimeWalker;

    QString m_subject;
    QString m_from;
    QList<Header> m_headers;
    QStringList m_texts;
    QStringList m_links;
    QList<Part> m_parts;
    qsizetype m_textChars = 0;
    bool m_truncated = false;
};

} // namespace Scan
