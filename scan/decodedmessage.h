#pragma once
// The current message as the rules read it decoded: encoded words, transfer
// encodings, charsets and HTML undone. It is decoded only when a rule asks,
// and only as far as it asks: the From value needs the header block alone,
// and a message whose raw text cannot read differently decoded (plain ASCII
// or UTF-8 text without encodings) is not decoded for the rules at all.

#include "mail/mimetext.h"

#include <QString>

#include <functional>
#include <optional>

namespace Scan {

class DecodedMessage final
{
public:
    // The control's header block and body (one character per byte), fetched
    // the first time they are needed.
    using Source = std::function<QString()>;

    void reset(Source headers, Source body);

    // The decoded From value, upper-cased; empty when it reads as the raw one.
    QString fromUpper();
    // The decoded subject and text of every text part, upper-cased; empty
    // when the message reads the same decoded as raw.
    const QString &subjectUpper();
    const QString &bodyUpper();
    // The whole message decoded, whatever it holds (the learned filter).
    const MimeText &message();
    // The subject as a reader sees it; empty when the message has none.
    QString subject();
    // The bytes the decoder reads: the header block and (at most
    // MimeText::MaxInputBytes of) the body.
    QByteArray bytes();

    // The header block as the control holds it.
    const QString &headers();

    // Whether decoding may show text the raw bytes do not: encoded words,
    // quoted-printable or base64, HTML, or a charset other than ASCII,
    // UTF-8 and Latin-1.
    static bool mayReadDifferently(QStringView text);

private:
    const QString &body();
    // Decoded as far as the From and the subject need: the headers alone,
    // unless the whole message is decoded already.
    const MimeText &headerText();
    void decodeForRules();

    Source m_headerSource;
    Source m_bodySource;
    std::optional<QString> m_headers;
    std::optional<QString> m_body;
    std::optional<MimeText> m_headersOnly;
    std::optional<MimeText> m_whole;
    bool m_decodedForRules = false;
    QString m_subjectUpper;
    QString m_bodyUpper;
};

} // namespace Scan
