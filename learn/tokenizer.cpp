#include "learn/tokenizer.h"

#include "learn/tokenstore.h"
#include "mail/mimetext.h"

#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// Headers the receiving side writes (delivery, the mail store) and those a
// mailing list adds: they describe the way to the mailbox, not the message,
// and are the same for spam and ham that took that way. No tokens at all.
bool pathHeader(const QString &name)
{
    static const QSet<QString> names = {u"received"_s,
                                        u"return-path"_s,
                                        u"delivered-to"_s,
                                        u"delivery-date"_s,
                                        u"x-status"_s,
                                        u"x-keywords"_s,
                                        u"x-uid"_s,
                                        u"status"_s,
                                        u"envelope-to"_s,
                                        u"x-original-to"_s,
                                        u"lines"_s,
                                        u"content-length"_s,
                                        u"x-uidl"_s,
                                        u"x-beenthere"_s,
                                        u"x-mailman-version"_s,
                                        u"precedence"_s,
                                        u"x-loop"_s,
                                        u"mailing-list"_s,
                                        u"errors-to"_s,
                                        u"sender"_s,
                                        u"x-mailing-list"_s,
                                        u"x-unsubscription-info"_s,
                                        u"x-acceptable-languages"_s,
                                        u"x-mime-autoconverted"_s};
    return names.contains(name) || name.startsWith(u"list-"_s) || name.startsWith(u"x-list"_s);
}

// A mailing list brought the message: spam sent to a list arrives the same
// way as the list's ham.
bool listHeader(const QString &name)
{
    return name.startsWith(u"list-"_s) || name == u"x-mailing-list"_s || name == u"x-beenthere"_s
           || name == u"mailing-list"_s;
}

// Digits, upper- and lower-case letters as a pattern of '9', 'u' and 'a',
// runs collapsed, the rest kept: "<0000776453ec$000024c0@x>" is
// "<9a$9a9@a>". Each mailer writes its ids and dates in a shape of its own.
QString shapeOf(QStringView text, qsizetype limit)
{
    QString out;
    QChar last;
    for (QChar c : text) {
        const QChar k = c.isDigit() ? QChar(u'9') : c.isUpper() ? QChar(u'u') : c.isLetter() ? QChar(u'a') : c;
        if (k != last || !(k == u'9' || k == u'a' || k == u'u' || k == u' '))
            out += k;
        last = k;
        if (out.size() >= limit)
            break;
    }
    return out.toLower();
}

// The first index whose bound n stays under (the last when none).
int bucket(qsizetype n, std::initializer_list<qsizetype> bounds)
{
    int i = 0;
    for (qsizetype bound : bounds) {
        if (n < bound)
            return i;
        ++i;
    }
    return i;
}

bool isRuleLine(QStringView line)
{
    line = line.trimmed();
    if (line.size() < 10 || !(line.front() == u'_' || line.front() == u'-' || line.front() == u'='))
        return false;
    for (QChar c : line) {
        if (c != line.front())
            return false;
    }
    return true;
}

// The footer a mailing list appends (its sponsor, its address and its
// subscription page) is the list's text, not the sender's: cut from the
// first rule line near the end when what follows names a mailing list.
QStringView withoutListFooter(QStringView text)
{
    constexpr qsizetype FooterChars = 1200;
    qsizetype lineStart = text.lastIndexOf(u'\n', qMax<qsizetype>(0, text.size() - FooterChars));
    lineStart = lineStart < 0 ? 0 : lineStart + 1;
    while (lineStart < text.size()) {
        qsizetype end = text.indexOf(u'\n', lineStart);
        if (end < 0)
            end = text.size();
        if (isRuleLine(text.mid(lineStart, end - lineStart))) {
            const QStringView tail = text.mid(lineStart);
            if (tail.contains(u"mailing list", Qt::CaseInsensitive) || tail.contains(u"listinfo", Qt::CaseInsensitive))
                return text.left(lineStart);
            return text;
        }
        lineStart = end + 1;
    }
    return text;
}

// Headers whose words are tokens; of the others only the presence counts
// (their values are mostly dates and ids, unique per message).
bool wordHeader(const QString &name)
{
    static const QSet<QString> names = {u"subject"_s,      u"from"_s,
                                        u"reply-to"_s,     u"to"_s,
                                        u"cc"_s,           u"x-mailer"_s,
                                        u"user-agent"_s,   u"x-mimeole"_s,
                                        u"organization"_s, u"content-type"_s,
                                        u"x-priority"_s,   u"x-msmail-priority"_s,
                                        u"importance"_s,   u"content-transfer-encoding"_s,
                                        u"mime-version"_s};
    return names.contains(name);
}

// Split words (besides white space); '.', '-', '\'', '$', '%' and '!' stay
// inside words, where they mean something ("e-mail", "$5.00", "50%").
bool separatorChar(QChar c)
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
    case u'#': return true;
    default: return c.isSpace() || c.category() == QChar::Other_Control;
    }
}

// Around a link or an address in running text.
bool chunkSeparatorChar(QChar c)
{
    return c.isSpace() || c == u'<' || c == u'>' || c == u'"' || c == u'(' || c == u')'
           || c.category() == QChar::Other_Control;
}

bool trimmedChar(QChar c)
{
    switch (c.unicode()) {
    case u'.':
    case u'!':
    case u'\'':
    case u'-':
    case u'_':
    case u'@':
    case u'%': return true;
    default: return c.isPunct() && c != u'$';
    }
}

// The same answers for ASCII from a table: most text is ASCII, and the
// Unicode property look-ups dominated tokenizing.
enum : quint8 { Separator = 1, ChunkSeparator = 2, Trimmed = 4, Alnum = 8 };
const std::array<quint8, 128> AsciiClass = [] {
    std::array<quint8, 128> table{};
    for (char16_t u = 0; u < 128; ++u) {
        const QChar c(u);
        table[u] = quint8((separatorChar(c) ? Separator : 0) | (chunkSeparatorChar(c) ? ChunkSeparator : 0)
                          | (trimmedChar(c) ? Trimmed : 0) | (c.isLetterOrNumber() ? Alnum : 0));
    }
    return table;
}();

bool isSeparator(QChar c) { return c.unicode() < 128 ? AsciiClass[c.unicode()] & Separator : separatorChar(c); }

bool isChunkSeparator(QChar c)
{
    return c.unicode() < 128 ? AsciiClass[c.unicode()] & ChunkSeparator : chunkSeparatorChar(c);
}

bool isTrimmed(QChar c) { return c.unicode() < 128 ? AsciiClass[c.unicode()] & Trimmed : trimmedChar(c); }

bool isAlnum(QChar c) { return c.unicode() < 128 ? AsciiClass[c.unicode()] & Alnum : c.isLetterOrNumber(); }

bool isAscii(QStringView s)
{
    for (QChar c : s) {
        if (c.unicode() >= 128)
            return false;
    }
    return true;
}

bool isLowerAscii(QStringView s)
{
    for (QChar c : s) {
        if (c.unicode() >= 128 || (c >= u'A' && c <= u'Z'))
            return false;
    }
    return true;
}

// Slots of the open-addressing set of ids seen: a power of two, kept at
// least twice the ids, so they grow with the message (a table for the
// largest message, cleared for every one, cost more than hashing its words).
constexpr size_t MinSlots = 512;

size_t firstSlot(quint64 id) { return size_t(id ^ (id >> 29)); }

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

Tokenizer::Tokenizer(const MimeText &message, QStringView firstHop)
{
    for (const MimeText::Header &h : message.headers())
        m_listMail = m_listMail || listHeader(h.name.toLower());
    for (const MimeText::Header &h : message.headers()) {
        if (full())
            break;
        header(h.name, h.value);
    }
    // Of the way to the mailbox only the first hop (the last Received)
    // tells something of the sender: how its machine named itself and
    // whether its address has a name.
    for (const MimeText::Header &h : message.headers()) {
        if (!h.value.isEmpty() && h.name.compare(u"received", Qt::CaseInsensitive) == 0)
            firstHop = h.value;
    }
    sender(firstHop);
    bool plain = false;
    bool html = false;
    for (const MimeText::Part &part : message.parts()) {
        add(u"part:", QStringView(part.mimeType).left(64), false);
        if (!part.charset.isEmpty())
            add(u"charset:", part.charset, false);
        const qsizetype dot = part.fileName.lastIndexOf(u'.');
        if (dot >= 0)
            add(u"attachment:", QStringView(part.fileName).mid(dot + 1).left(16), true);
        plain = plain || part.mimeType == u"text/plain"_s;
        html = html || part.mimeType == u"text/html"_s;
    }
    // The message's build: HTML without a plain alternative, how many
    // links, how much text.
    if (html && !plain)
        add(u"shape:", u"html-only", false);
    qsizetype chars = 0;
    for (const QString &t : message.texts())
        chars += t.size();
    add(u"shape:", keep(u"links-"_s + QString::number(bucket(message.links().size(), {1, 2, 4, 8, 16}))), false);
    add(u"shape:", keep(u"chars-"_s + QString::number(bucket(chars, {100, 400, 1600, 6400}))), false);
    for (const QString &link : message.links()) {
        if (full())
            break;
        url(link, {});
    }
    qsizetype budget = MaxTextChars;
    for (const QString &t : message.texts()) {
        if (budget <= 0 || full())
            break;
        text(withoutListFooter(QStringView(t).left(budget)), {}, MinWordLength, MaxTokens);
        budget -= t.size();
    }
}

QString Tokenizer::text(qsizetype index) const
{
    const Piece &p = m_pieces.at(index);
    return p.prefix + (p.lower ? p.body.toString().toLower() : p.body.toString());
}

QStringList Tokenizer::texts() const
{
    QStringList out;
    out.reserve(m_ids.size());
    for (qsizetype i = 0; i < m_ids.size(); ++i)
        out.append(text(i));
    return out;
}

QStringList Tokenizer::tokens(const MimeText &message, QStringView firstHop)
{
    return Tokenizer(message, firstHop).texts();
}

bool Tokenizer::ignoresValue(const QString &name) { return pathHeader(name.toLower().left(40)); }

QString Tokenizer::lastReceived(QByteArrayView message)
{
    // The header block ends at the first empty line; a folded value goes
    // on in lines that start with white space.
    static constexpr char Name[] = "received:";
    constexpr qsizetype NameSize = sizeof(Name) - 1;
    qsizetype valueStart = -1;
    qsizetype valueEnd = -1;
    bool inValue = false;
    qsizetype i = 0;
    while (i < message.size()) {
        qsizetype end = message.indexOf('\n', i);
        if (end < 0)
            end = message.size();
        const QByteArrayView line = message.sliced(i, end - i);
        if (line.isEmpty() || line == "\r")
            break;
        if (line.front() == ' ' || line.front() == '\t') {
            if (inValue)
                valueEnd = end;
        } else {
            inValue = line.size() >= NameSize && qstrnicmp(line.data(), Name, NameSize) == 0;
            if (inValue) {
                valueStart = i + NameSize;
                valueEnd = end;
            }
        }
        i = end + 1;
    }
    if (valueStart < 0)
        return {};
    return QString::fromLatin1(message.sliced(valueStart, qMin(valueEnd - valueStart, MimeText::MaxHeaderChars)))
        .simplified();
}

QStringList Tokenizer::textTokens(QStringView text)
{
    Tokenizer t;
    t.text(text.left(MaxTextChars), {}, MinWordLength, MaxTokens);
    return t.texts();
}

QList<Tokenizer::Phrase> Tokenizer::phrases(QStringView text, const QStringList &words)
{
    QList<Phrase> out;
    qsizetype runStart = -1;
    qsizetype runEnd = 0;
    QStringList run;
    const auto endRun = [&] {
        if (run.size() >= 2 && QSet<QString>(run.cbegin(), run.cend()).size() >= 2) {
            const QString phrase = text.mid(runStart, runEnd - runStart).toString().simplified().toLower();
            if (std::none_of(out.cbegin(), out.cend(), [&](const Phrase &p) { return p.text == phrase; }))
                out.append({phrase, run});
        }
        run.clear();
        runStart = -1;
    };
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n && out.size() < MaxPhrases) {
        while (i < n && isChunkSeparator(text.at(i))) {
            // A line break or a tag between words is not a phrase.
            if (text.at(i) != u' ')
                endRun();
            ++i;
        }
        qsizetype end = i;
        while (end < n && !isSeparator(text.at(end)))
            ++end;
        if (end == i) {
            ++i;
            endRun();
            continue;
        }
        QStringView w = text.mid(i, end - i);
        const qsizetype lead = std::find_if_not(w.begin(), w.end(), isTrimmed) - w.begin();
        w = trimPunctuation(w);
        // A few words to look for: compared in place, nothing is copied.
        const auto found = std::find_if(words.cbegin(), words.cend(), [&](const QString &word) {
            return word.size() == w.size() && w.compare(word, Qt::CaseInsensitive) == 0;
        });
        if (found != words.cend() && run.size() < MaxPhraseWords) {
            if (runStart < 0)
                runStart = i + lead;
            runEnd = i + lead + w.size();
            run.append(*found);
        } else {
            endRun();
        }
        i = end;
    }
    endRun();
    return out;
}

QStringView Tokenizer::keep(QString text)
{
    m_arena.append(std::move(text));
    return m_arena.constLast();
}

void Tokenizer::add(QStringView prefix, QStringView body, bool lower)
{
    if (full() || (prefix.isEmpty() && body.isEmpty()))
        return;
    if (lower && !isAscii(body)) {
        // Case mapping beyond ASCII may change the length: done as for a string.
        body = keep(body.toString().toLower());
        lower = false;
    }
    const quint64 id = TokenStore::tokenId(body, TokenStore::tokenId(prefix), lower);
    if (id == 0) {
        if (m_zeroSeen)
            return;
        m_zeroSeen = true;
    } else {
        if (m_slots.size() < size_t(m_ids.size() + 1) * 2)
            growSlots();
        const size_t mask = m_slots.size() - 1;
        size_t slot = firstSlot(id) & mask;
        while (m_slots[slot] != 0) {
            if (m_slots[slot] == id)
                return;
            slot = (slot + 1) & mask;
        }
        m_slots[slot] = id;
    }
    m_ids.append(id);
    m_pieces.append({prefix, body, lower});
    m_context.append(m_inContext);
}

void Tokenizer::growSlots()
{
    std::vector<quint64> slots(std::max(MinSlots, m_slots.size() * 2), 0);
    const size_t mask = slots.size() - 1;
    for (quint64 id : std::as_const(m_ids)) {
        if (id == 0)
            continue;
        size_t slot = firstSlot(id) & mask;
        while (slots[slot] != 0)
            slot = (slot + 1) & mask;
        slots[slot] = id;
    }
    m_slots = std::move(slots);
}

bool Tokenizer::isContextToken(QStringView token)
{
    for (QStringView prefix :
         {u"header-order:", u"header:", u"message-id-shape:", u"message-id:", u"date-shape:", u"to:", u"cc:"}) {
        if (token.startsWith(prefix))
            return true;
    }
    return false;
}

void Tokenizer::header(const QString &name, const QString &value)
{
    // As ignoresValue(): the decoder may have left such values out.
    const QString lname = name.toLower().left(40);
    if (pathHeader(lname))
        return;
    // Each mailer writes its headers in an order of its own.
    m_inContext = true;
    const auto contextEnds = qScopeGuard([this] { m_inContext = false; });
    if (!m_lastHeader.isEmpty())
        add(u"header-order:", keep(m_lastHeader + u'>' + lname), false);
    m_lastHeader = lname;
    const QStringView prefix = keep(lname + u':');
    add(u"header:", prefix.chopped(1), false);
    if (lname == u"message-id"_s) {
        // Only the shape of the id and the domain that made it.
        const qsizetype at = value.lastIndexOf(u'@');
        add(u"message-id-shape:", keep(shapeOf(QStringView(value).left(at < 0 ? value.size() : at), 30)), false);
        QString domain = at < 0 ? u"none"_s : value.mid(at + 1).toLower();
        domain.remove(u'>');
        add(prefix, keep(u'@' + domain.trimmed().left(80)), false);
        return;
    }
    if (lname == u"date"_s) {
        add(u"date-shape:", keep(shapeOf(value, 40)), false);
        return;
    }
    if (!wordHeader(lname))
        return;
    m_inContext = lname == u"to"_s || lname == u"cc"_s;
    if (lname == u"subject"_s) {
        qsizetype letters = 0;
        qsizetype upper = 0;
        for (QChar c : value) {
            if (c.isLetter()) {
                ++letters;
                upper += c.isUpper() ? 1 : 0;
            }
        }
        if (letters >= 8 && upper * 10 >= letters * 7)
            add(u"subject-shape:", u"caps", false);
        if (value.contains(u'!'))
            add(u"subject-shape:", u"bang", false);
        if (value.contains(u'$'))
            add(u"subject-shape:", u"dollar", false);
    } else if (lname == u"from"_s) {
        const qsizetype lt = value.indexOf(u'<');
        const QStringView display = QStringView(value).left(qMax<qsizetype>(0, lt));
        if (lt <= 0)
            add(u"from-shape:", u"bare", false);
        else if (display.contains(u'@'))
            add(u"from-shape:", u"address-as-name", false);
        else if (display.size() > 3 && display.toString().toUpper() == display)
            add(u"from-shape:", u"caps-name", false);
        // Mailboxes made up by a program: "jane84521@".
        const qsizetype at = value.lastIndexOf(u'@');
        qsizetype digits = 0;
        for (qsizetype i = at - 1; i >= 0 && !value.at(i).isSpace() && value.at(i) != u'<'; --i)
            digits += value.at(i).isDigit() ? 1 : 0;
        if (digits >= 3)
            add(u"from-shape:", u"digits", false);
    } else if (lname == u"to"_s || lname == u"cc"_s) {
        add(prefix, keep(u"count-"_s + QString::number(bucket(value.count(u'@'), {1, 2, 4, 10}))), false);
        // A list's address says how the message came, not who wrote it.
        if (m_listMail)
            return;
    }
    text(value, prefix, 2, MaxHeaderTokens);
    // The subject is also text the reader reads.
    if (lname == u"subject"_s)
        text(value, {}, MinWordLength, MaxHeaderTokens);
}

void Tokenizer::sender(QStringView received)
{
    // "from HELO (NAME [ADDRESS]) by ...": only what precedes " by ".
    const qsizetype by = received.indexOf(u" by ");
    QStringView from = received.left(by < 0 ? 300 : by);
    if (!from.startsWith(u"from "))
        return;
    from = from.mid(5);
    const QStringView helo = from.left(from.indexOf(u' ') < 0 ? from.size() : from.indexOf(u' '));
    if (isIpv4(helo) || helo.startsWith(u'['))
        add(u"sender-shape:", u"helo-ip", false);
    else if (!helo.contains(u'.'))
        add(u"sender-shape:", u"helo-bare", false);
    if (from.contains(u"unknown", Qt::CaseInsensitive))
        add(u"sender-shape:", u"no-name", false);
    if (from.contains(u"unverified", Qt::CaseInsensitive) || from.contains(u"may be forged", Qt::CaseInsensitive))
        add(u"sender-shape:", u"forged", false);
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
        bool maybeUrl = false;
        bool maybeAddress = false;
        while (i < n && !isChunkSeparator(text.at(i))) {
            const char16_t c = text.at(i).unicode();
            maybeUrl |= c == u':' || c == u'w' || c == u'W';
            maybeAddress |= c == u'@';
            ++i;
        }
        if (i == start)
            continue;
        const QStringView chunk = text.mid(start, i - start);
        if (maybeUrl && looksLikeUrl(chunk)) {
            url(chunk, prefix);
            --budget;
            continue;
        }
        const qsizetype at = maybeAddress ? chunk.indexOf(u'@') : -1;
        if (at > 0 && chunk.indexOf(u'.', at) > at) {
            // An address: the whole of it and its domain.
            const QStringView address = trimPunctuation(chunk);
            const qsizetype a = address.indexOf(u'@');
            if (address.size() <= 80 && a > 0) {
                add(prefix, address, true);
                add(prefix, address.mid(a), true);
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
        add(prefix,
            keep(u"skip:"_s + w.left(1).toString().toLower() + u' '
                 + QString::number(qMin<qsizetype>(w.size(), 200) / 10 * 10)),
            false);
        return;
    }
    add(prefix, w, true);
}

void Tokenizer::url(QStringView url, QStringView prefix)
{
    // A list's own pages (its footer's subscription link).
    if (m_listMail
        && (url.contains(u"/listinfo", Qt::CaseInsensitive) || url.contains(u"/mailman/", Qt::CaseInsensitive)))
        return;
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
    const QStringView urlPrefix = prefix.isEmpty() ? QStringView(u"url:") : keep(prefix + u"url:"_s);
    host(trimPunctuation(authority).left(120), urlPrefix);
    // Words of the path, e.g. "url:remove", "url:cgi-bin".
    int budget = 8;
    const QStringView path = rest.mid(end).left(400);
    qsizetype i = 0;
    while (i < path.size() && budget > 0) {
        while (i < path.size() && !isAlnum(path.at(i)))
            ++i;
        const qsizetype start = i;
        while (i < path.size() && (isAlnum(path.at(i)) || path.at(i) == u'-'))
            ++i;
        const QStringView piece = path.mid(start, i - start);
        if (piece.size() >= MinWordLength && piece.size() <= MaxWordLength) {
            add(urlPrefix, piece, true);
            --budget;
        }
    }
}

void Tokenizer::host(QStringView name, QStringView urlPrefix)
{
    if (name.isEmpty())
        return;
    if (isIpv4(name)) {
        add(urlPrefix, u"ip", false);
        return;
    }
    const QStringView lowered = isLowerAscii(name) ? name : keep(name.toString().toLower());
    // The host and its parent domains down to two labels.
    add(urlPrefix, lowered, false);
    int labels = 0;
    for (qsizetype dot = lowered.indexOf(u'.'); dot >= 0 && labels < 4;
         dot = lowered.indexOf(u'.', dot + 1), ++labels) {
        const QStringView parent = lowered.mid(dot + 1);
        if (!parent.contains(u'.'))
            break;
        add(urlPrefix, parent, false);
    }
}

} // namespace Scan
