#include "scan/tokenizer.h"

#include "scan/mimetext.h"

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// Headers the receiving side writes (delivery, the mail store) and those a
// mailing list adds: they describe the way to the mailbox, not the message,
// and are the same for spam and ham that took that way. No tokens at all.
bool pathHeader(const QString &name)
{
    static const QSet<QString> names = {
        u"received"_s, u"return-path"_s, u"delivered-to"_s, u"delivery-date"_s, u"x-status"_s,
        u"x-keywords"_s, u"x-uid"_s, u"status"_s, u"envelope-to"_s, u"x-original-to"_s,
        u"lines"_s, u"content-length"_s, u"x-uidl"_s, u"x-beenthere"_s, u"x-mailman-version"_s,
        u"precedence"_s, u"x-loop"_s, u"mailing-list"_s, u"errors-to"_s, u"sender"_s};
    return names.contains(name) || name.startsWith(u"list-"_s);
}

// Headers whose words are tokens; of the others only the presence counts
// (their values are mostly dates and ids, unique per message).
bool wordHeader(const QString &name)
{
    static const QSet<QString> names = {
        u"subject"_s, u"from"_s, u"reply-to"_s, u"to"_s, u"cc"_s,
        u"x-mailer"_s, u"user-agent"_s, u"x-mimeole"_s, u"organization"_s, u"content-type"_s,
        u"x-priority"_s, u"x-msmail-priority"_s, u"importance"_s, u"content-transfer-encoding"_s,
        u"mime-version"_s};
    return names.contains(name);
}

// Split words (besides white space); '.', '-', '\'', '$', '%' and '!' stay
// inside words, where they mean something ("e-mail", "$5.00", "50%").
bool isSeparator(QChar c)
{
    switch (c.unicode()) {
    case u',':
    case u';':
    case u':':
    case u'(':
    case u')':
    case u'[':
    case u']':
    case u'{':
    case u'}':
    case u'<':
    case u'>':
    case u'"':
    case u'|':
    case u'=':
    case u'*':
    case u'~':
    case u'`':
    case u'^':
    case u'\\':
    case u'/':
    case u'?':
    case u'&':
    case u'+':
    case u'#':
        return true;
    default:
        return c.isSpace() || c.category() == QChar::Other_Control;
    }
}

// Around a link or an address in running text.
bool isChunkSeparator(QChar c)
{
    return c.isSpace() || c == u'<' || c == u'>' || c == u'"' || c == u'(' || c == u')'
           || c.category() == QChar::Other_Control;
}

bool isTrimmed(QChar c)
{
    switch (c.unicode()) {
    case u'.':
    case u'!':
    case u'\'':
    case u'-':
    case u'_':
    case u'@':
    case u'%':
        return true;
    default:
        return c.isPunct() && c != u'$';
    }
}

QStringView trimPunctuation(QStringView w)
{
    while (!w.isEmpty() && isTrimmed(w.front()))
        w = w.mid(1);
    while (!w.isEmpty() && isTrimmed(w.back()))
        w.chop(1);
    return w;
}

bool isIpv4(QStringView host)
{
    int dots = 0;
    for (QChar c : host) {
        if (c == u'.')
            ++dots;
        else if (!c.isDigit())
            return false;
    }
    return dots == 3;
}

bool looksLikeUrl(QStringView chunk)
{
    return chunk.contains(u"://") || chunk.startsWith(u"www.", Qt::CaseInsensitive);
}

} // namespace

QStringList Tokenizer::tokens(const MimeText &message)
{
    Tokenizer t;
    for (const MimeText::Header &h : message.headers()) {
        if (t.full())
            break;
        t.header(h.name, h.value);
    }
    for (const MimeText::Part &part : message.parts()) {
        t.add(u"part:"_s + part.mimeType.left(64));
        if (!part.charset.isEmpty())
            t.add(u"charset:"_s + part.charset);
        const qsizetype dot = part.fileName.lastIndexOf(u'.');
        if (dot >= 0)
            t.add(u"attachment:"_s + part.fileName.mid(dot + 1).left(16).toLower());
    }
    for (const QString &link : message.links()) {
        if (t.full())
            break;
        t.url(link, {});
    }
    qsizetype budget = MaxTextChars;
    for (const QString &text : message.texts()) {
        if (budget <= 0 || t.full())
            break;
        t.text(QStringView(text).left(budget), {}, MinWordLength, MaxTokens);
        budget -= text.size();
    }
    return t.m_tokens;
}

QStringList Tokenizer::textTokens(QStringView text)
{
    Tokenizer t;
    t.text(text.left(MaxTextChars), {}, MinWordLength, MaxTokens);
    return t.m_tokens;
}

void Tokenizer::add(const QString &token)
{
    if (full() || token.isEmpty())
        return;
    if (m_seen.contains(token))
        return;
    m_seen.insert(token);
    m_tokens.append(token);
}

void Tokenizer::header(const QString &name, const QString &value)
{
    const QString lname = name.toLower().left(40);
    if (pathHeader(lname))
        return;
    add(u"header:"_s + lname);
    const QString prefix = lname + u':';
    if (lname == u"message-id"_s) {
        // Only the domain that made the id.
        const qsizetype at = value.lastIndexOf(u'@');
        QString domain = at < 0 ? u"none"_s : value.mid(at + 1).toLower();
        domain.remove(u'>');
        add(prefix + u'@' + domain.trimmed().left(80));
        return;
    }
    if (!wordHeader(lname))
        return;
    text(value, prefix, 2, MaxHeaderTokens);
    // The subject is also text the reader reads.
    if (lname == u"subject"_s)
        text(value, {}, MinWordLength, MaxHeaderTokens);
}

void Tokenizer::text(QStringView text, QStringView prefix, int minLength, int limit)
{
    int budget = limit;
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && budget > 0 && !full()) {
        while (i < n && isChunkSeparator(text.at(i)))
            ++i;
        const qsizetype start = i;
        while (i < n && !isChunkSeparator(text.at(i)))
            ++i;
        if (i == start)
            continue;
        const QStringView chunk = text.mid(start, i - start);
        if (looksLikeUrl(chunk)) {
            url(chunk, prefix);
            --budget;
            continue;
        }
        const qsizetype at = chunk.indexOf(u'@');
        if (at > 0 && chunk.indexOf(u'.', at) > at) {
            // An address: the whole of it and its domain.
            const QStringView address = trimPunctuation(chunk);
            const qsizetype a = address.indexOf(u'@');
            if (address.size() <= 80 && a > 0) {
                add(prefix + address.toString().toLower());
                add(prefix + u'@' + address.mid(a + 1).toString().toLower());
                budget -= 2;
            }
            continue;
        }
        qsizetype w = 0;
        while (w < chunk.size() && budget > 0) {
            while (w < chunk.size() && isSeparator(chunk.at(w)))
                ++w;
            const qsizetype wordStart = w;
            while (w < chunk.size() && !isSeparator(chunk.at(w)))
                ++w;
            if (w > wordStart)
                word(chunk.mid(wordStart, w - wordStart), prefix, minLength, &budget);
        }
    }
}

void Tokenizer::word(QStringView w, QStringView prefix, int minLength, int *budget)
{
    w = trimPunctuation(w);
    if (w.size() < minLength)
        return;
    --*budget;
    if (w.size() > MaxWordLength) {
        // Long runs (encoded junk, words of scripts without spaces) count by
        // their first character and length only.
        add(prefix + u"skip:"_s + w.left(1).toString().toLower() + u' '
            + QString::number(qMin<qsizetype>(w.size(), 200) / 10 * 10));
        return;
    }
    add(prefix + w.toString().toLower());
}

void Tokenizer::url(QStringView url, QStringView prefix)
{
    QStringView rest = url;
    const qsizetype scheme = rest.indexOf(u"://");
    if (scheme >= 0 && scheme <= 10)
        rest = rest.mid(scheme + 3);
    qsizetype end = 0;
    while (end < rest.size() && rest.at(end) != u'/' && rest.at(end) != u'?' && rest.at(end) != u'#')
        ++end;
    QStringView authority = rest.left(end);
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0)
        authority = authority.mid(at + 1);
    const qsizetype colon = authority.indexOf(u':');
    if (colon >= 0)
        authority = authority.left(colon);
    host(trimPunctuation(authority).left(120).toString().toLower(), prefix);
    // Words of the path, e.g. "url:remove", "url:cgi-bin".
    int budget = 8;
    const QStringView path = rest.mid(end).left(400);
    qsizetype i = 0;
    while (i < path.size() && budget > 0) {
        while (i < path.size() && !path.at(i).isLetterOrNumber())
            ++i;
        const qsizetype start = i;
        while (i < path.size() && (path.at(i).isLetterOrNumber() || path.at(i) == u'-'))
            ++i;
        const QStringView piece = path.mid(start, i - start);
        if (piece.size() >= MinWordLength && piece.size() <= MaxWordLength) {
            add(prefix + u"url:"_s + piece.toString().toLower());
            --budget;
        }
    }
}

void Tokenizer::host(QString host, QStringView prefix)
{
    if (host.isEmpty())
        return;
    if (isIpv4(host)) {
        add(prefix + u"url:ip"_s);
        return;
    }
    // The host and its parent domains down to two labels.
    add(prefix + u"url:"_s + host);
    int labels = 0;
    for (qsizetype dot = host.indexOf(u'.'); dot >= 0 && labels < 4; dot = host.indexOf(u'.', dot + 1), ++labels) {
        const QStringView parent = QStringView(host).mid(dot + 1);
        if (!parent.contains(u'.'))
            break;
        add(prefix + u"url:"_s + parent);
    }
}

} // namespace Scan
