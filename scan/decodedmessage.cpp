#include "scan/decodedmessage.h"

#include "scan/servertext.h"

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// Charsets whose text the raw reading (UTF-8 where valid, else Latin-1)
// already shows as the decoder would.
bool readsAsRaw(QStringView charset)
{
    static const QStringList same = {u"us-ascii"_s, u"ascii"_s, u"utf-8"_s, u"utf8"_s, u"iso-8859-1"_s, u"latin1"_s};
    for (const QString &name : same) {
        if (charset.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return charset.isEmpty();
}

} // namespace

void DecodedMessage::reset(Source headers, Source body)
{
    *this = DecodedMessage();
    m_headerSource = std::move(headers);
    m_bodySource = std::move(body);
}

const QString &DecodedMessage::headers()
{
    if (!m_headers)
        m_headers = m_headerSource ? m_headerSource() : QString();
    return *m_headers;
}

const QString &DecodedMessage::body()
{
    if (!m_body)
        m_body = m_bodySource ? m_bodySource() : QString();
    return *m_body;
}

QByteArray DecodedMessage::bytes()
{
    const QString &text = body();
    if (text.size() <= MimeText::MaxInputBytes)
        return MimeText::joinControlText(headers(), text);
    return MimeText::joinControlText(headers(), text.left(MimeText::MaxInputBytes));
}

bool DecodedMessage::mayReadDifferently(QStringView text)
{
    for (const QString &mark : {u"=?"_s, u"quoted-printable"_s, u"base64"_s, u"text/html"_s}) {
        if (text.contains(mark, Qt::CaseInsensitive))
            return true;
    }
    const QString name = u"charset"_s;
    for (qsizetype at = text.indexOf(name, 0, Qt::CaseInsensitive); at >= 0;
         at = text.indexOf(name, at + name.size(), Qt::CaseInsensitive)) {
        qsizetype i = at + name.size();
        while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t'))
            ++i;
        if (i >= text.size() || text.at(i) != u'=')
            continue;
        ++i;
        while (i < text.size() && (text.at(i) == u' ' || text.at(i) == u'\t' || text.at(i) == u'"'))
            ++i;
        qsizetype end = i;
        while (end < text.size()
               && (text.at(end).isLetterOrNumber() || text.at(end) == u'-' || text.at(end) == u'_'
                   || text.at(end) == u'.' || text.at(end) == u':'))
            ++end;
        if (!readsAsRaw(text.mid(i, end - i)))
            return true;
    }
    return false;
}

const MimeText &DecodedMessage::headerText()
{
    if (m_whole)
        return *m_whole;
    if (!m_headersOnly)
        m_headersOnly = MimeText::decodeControlText(headers(), QString());
    return *m_headersOnly;
}

QString DecodedMessage::fromUpper()
{
    if (!headers().contains(u"=?"_s))
        return {};
    return upperCased(headerText().from());
}

QString DecodedMessage::subject() { return headerText().subject(); }

void DecodedMessage::decodeForRules()
{
    if (m_decodedForRules)
        return;
    m_decodedForRules = true;
    if (!mayReadDifferently(headers()) && !mayReadDifferently(QStringView(body()).left(MimeText::MaxInputBytes)))
        return;
    const MimeText &text = message();
    m_subjectUpper = upperCased(text.subject());
    m_bodyUpper = upperCased(text.bodyText());
}

const QString &DecodedMessage::subjectUpper()
{
    decodeForRules();
    return m_subjectUpper;
}

const QString &DecodedMessage::bodyUpper()
{
    decodeForRules();
    return m_bodyUpper;
}

const MimeText &DecodedMessage::message()
{
    if (!m_whole)
        m_whole = MimeText::decode(bytes());
    return *m_whole;
}

} // namespace Scan
