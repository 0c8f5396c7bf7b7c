#include "mail/htmltext.h"

#include <QHash>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

// Names of the characters U+00A0 to U+00FF, in order.
constexpr const char16_t *Latin1Names[96] = {
    u"nbsp",   u"iexcl",  u"cent",   u"pound",  u"curren", u"yen",    u"brvbar", u"sect",   u"uml",    u"copy",
    u"ordf",   u"laquo",  u"not",    u"shy",    u"reg",    u"macr",   u"deg",    u"plusmn", u"sup2",   u"sup3",
    u"acute",  u"micro",  u"para",   u"middot", u"cedil",  u"sup1",   u"ordm",   u"raquo",  u"frac14", u"frac12",
    u"frac34", u"iquest", u"Agrave", u"Aacute", u"Acirc",  u"Atilde", u"Auml",   u"Aring",  u"AElig",  u"Ccedil",
    u"Egrave", u"Eacute", u"Ecirc",  u"Euml",   u"Igrave", u"Iacute", u"Icirc",  u"Iuml",   u"ETH",    u"Ntilde",
    u"Ograve", u"Oacute", u"Ocirc",  u"Otilde", u"Ouml",   u"times",  u"Oslash", u"Ugrave", u"Uacute", u"Ucirc",
    u"Uuml",   u"Yacute", u"THORN",  u"szlig",  u"agrave", u"aacute", u"acirc",  u"atilde", u"auml",   u"aring",
    u"aelig",  u"ccedil", u"egrave", u"eacute", u"ecirc",  u"euml",   u"igrave", u"iacute", u"icirc",  u"iuml",
    u"eth",    u"ntilde", u"ograve", u"oacute", u"ocirc",  u"otilde", u"ouml",   u"divide", u"oslash", u"ugrave",
    u"uacute", u"ucirc",  u"uuml",   u"yacute", u"thorn",  u"yuml"};

struct NamedReference
{
    const char16_t *name;
    char32_t code;
};

constexpr NamedReference OtherNames[] = {
    {u"quot", 0x22},     {u"amp", 0x26},      {u"apos", 0x27},     {u"lt", 0x3C},       {u"gt", 0x3E},
    {u"OElig", 0x152},   {u"oelig", 0x153},   {u"Scaron", 0x160},  {u"scaron", 0x161},  {u"Yuml", 0x178},
    {u"fnof", 0x192},    {u"circ", 0x2C6},    {u"tilde", 0x2DC},   {u"ensp", 0x2002},   {u"emsp", 0x2003},
    {u"thinsp", 0x2009}, {u"zwnj", 0x200C},   {u"zwj", 0x200D},    {u"lrm", 0x200E},    {u"rlm", 0x200F},
    {u"ndash", 0x2013},  {u"mdash", 0x2014},  {u"lsquo", 0x2018},  {u"rsquo", 0x2019},  {u"sbquo", 0x201A},
    {u"ldquo", 0x201C},  {u"rdquo", 0x201D},  {u"bdquo", 0x201E},  {u"dagger", 0x2020}, {u"Dagger", 0x2021},
    {u"bull", 0x2022},   {u"hellip", 0x2026}, {u"permil", 0x2030}, {u"prime", 0x2032},  {u"Prime", 0x2033},
    {u"lsaquo", 0x2039}, {u"rsaquo", 0x203A}, {u"oline", 0x203E},  {u"frasl", 0x2044},  {u"euro", 0x20AC},
    {u"trade", 0x2122},  {u"larr", 0x2190},   {u"uarr", 0x2191},   {u"rarr", 0x2192},   {u"darr", 0x2193},
    {u"harr", 0x2194},   {u"spades", 0x2660}, {u"clubs", 0x2663},  {u"hearts", 0x2665}, {u"diams", 0x2666},
};

// What browsers show for the references &#128; to &#159; (windows-1252).
constexpr char16_t C1Controls[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                     0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

const QHash<QString, char32_t> &namedReferences()
{
    static const QHash<QString, char32_t> table = [] {
        QHash<QString, char32_t> names;
        for (int i = 0; i < 96; ++i)
            names.insert(QString::fromUtf16(Latin1Names[i]), char32_t(0xA0 + i));
        for (const NamedReference &ref : OtherNames)
            names.insert(QString::fromUtf16(ref.name), ref.code);
        return names;
    }();
    return table;
}

constexpr qsizetype MaxReferenceName = 32;

bool isAsciiLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

bool isAsciiAlnum(QChar c) { return isAsciiLetter(c) || (c >= u'0' && c <= u'9'); }

// Characters a reader never sees, used to split words invisibly.
bool isInvisible(char16_t c) { return c == 0x00AD || (c >= 0x200B && c <= 0x200D) || c == 0x2060 || c == 0xFEFF; }

enum class Break { None, Space, Line };

Break breakOf(QStringView tag)
{
    static const QStringList lines = {
        u"br"_s,      u"p"_s,          u"div"_s,    u"tr"_s,     u"li"_s,      u"ul"_s,     u"ol"_s,   u"dl"_s,
        u"dt"_s,      u"dd"_s,         u"h1"_s,     u"h2"_s,     u"h3"_s,      u"h4"_s,     u"h5"_s,   u"h6"_s,
        u"table"_s,   u"blockquote"_s, u"hr"_s,     u"pre"_s,    u"title"_s,   u"center"_s, u"form"_s, u"option"_s,
        u"section"_s, u"article"_s,    u"header"_s, u"footer"_s, u"address"_s, u"body"_s,   u"html"_s, u"head"_s};
    static const QStringList spaces = {u"td"_s,     u"th"_s,     u"img"_s,      u"input"_s,
                                       u"button"_s, u"select"_s, u"textarea"_s, u"label"_s};
    for (const QString &name : lines) {
        if (tag == name)
            return Break::Line;
    }
    for (const QString &name : spaces) {
        if (tag == name)
            return Break::Space;
    }
    return Break::None;
}

bool isLinkAttribute(QStringView name)
{
    return name.compare(u"href", Qt::CaseInsensitive) == 0 || name.compare(u"src", Qt::CaseInsensitive) == 0
           || name.compare(u"action", Qt::CaseInsensitive) == 0
           || name.compare(u"background", Qt::CaseInsensitive) == 0;
}

class Writer
{
public:
    explicit Writer(qsizetype reserve) { m_out.reserve(reserve); }

    void character(QChar c)
    {
        if (isInvisible(c.unicode()))
            return;
        if (c.isSpace()) {
            if (m_pending == Break::None)
                m_pending = Break::Space;
            return;
        }
        if (!m_out.isEmpty()) {
            if (m_pending == Break::Line)
                m_out += u'\n';
            else if (m_pending == Break::Space)
                m_out += u' ';
        }
        m_pending = Break::None;
        m_out += c;
    }
    void text(QStringView s)
    {
        for (QChar c : s)
            character(c);
    }
    void breakHere(Break b)
    {
        if (b == Break::Line || (b == Break::Space && m_pending == Break::None))
            m_pending = b;
    }
    QString take() { return std::move(m_out); }

private:
    QString m_out;
    Break m_pending = Break::None;
};

QString decodeAttribute(QStringView value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) == u'&') {
            QString decoded;
            const qsizetype used = HtmlText::decodeReference(value.mid(i + 1), &decoded);
            if (used > 0) {
                out += decoded;
                i += used;
                continue;
            }
        }
        out += value.at(i);
    }
    return out.trimmed();
}

// Parses the tag that starts at html[start] == '<' (a letter or "/letter"
// follows). Returns the index after its '>' (or the end), its lower-case
// name and whether it closes an element.
qsizetype parseTag(QStringView html, qsizetype start, QString *name, bool *closing, QStringList *links)
{
    const qsizetype n = html.size();
    qsizetype i = start + 1;
    *closing = html.at(i) == u'/';
    if (*closing)
        ++i;
    const qsizetype nameStart = i;
    while (i < n && (isAsciiAlnum(html.at(i)) || html.at(i) == u'-' || html.at(i) == u':'))
        ++i;
    *name = html.mid(nameStart, i - nameStart).toString().toLower();
    while (i < n) {
        const QChar c = html.at(i);
        if (c == u'>')
            return i + 1;
        if (c.isSpace() || c == u'/') {
            ++i;
            continue;
        }
        const qsizetype attrStart = i;
        while (i < n && !html.at(i).isSpace() && html.at(i) != u'=' && html.at(i) != u'>' && html.at(i) != u'/')
            ++i;
        // A stray quote or '=' must still move on.
        if (i == attrStart)
            ++i;
        const QStringView attr = html.mid(attrStart, i - attrStart);
        while (i < n && html.at(i).isSpace())
            ++i;
        if (i >= n || html.at(i) != u'=')
            continue;
        ++i;
        while (i < n && html.at(i).isSpace())
            ++i;
        if (i >= n)
            break;
        qsizetype valueStart = i;
        qsizetype valueEnd;
        if (html.at(i) == u'"' || html.at(i) == u'\'') {
            const QChar quote = html.at(i);
            valueStart = i + 1;
            const qsizetype close = html.indexOf(quote, valueStart);
            valueEnd = close < 0 ? n : close;
            i = close < 0 ? n : close + 1;
        } else {
            while (i < n && !html.at(i).isSpace() && html.at(i) != u'>')
                ++i;
            valueEnd = i;
        }
        if (links && links->size() < HtmlText::MaxLinks && isLinkAttribute(attr)) {
            const QString link = decodeAttribute(html.mid(valueStart, valueEnd - valueStart));
            if (!link.isEmpty())
                links->append(link.left(2048));
        }
    }
    return n;
}

} // namespace

qsizetype HtmlText::decodeReference(QStringView text, QString *decoded)
{
    const qsizetype n = text.size();
    if (n == 0)
        return 0;
    if (text.at(0) == u'#') {
        qsizetype i = 1;
        const bool hex = i < n && (text.at(i) == u'x' || text.at(i) == u'X');
        if (hex)
            ++i;
        const qsizetype digitsStart = i;
        char32_t value = 0;
        while (i < n) {
            const char16_t c = text.at(i).unicode();
            int digit;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (hex && c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (hex && c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            else
                break;
            if (value <= 0x10FFFF)
                value = value * (hex ? 16 : 10) + char32_t(digit);
            ++i;
        }
        if (i == digitsStart)
            return 0;
        if (i < n && text.at(i) == u';')
            ++i;
        if (value >= 0x80 && value <= 0x9F)
            value = C1Controls[value - 0x80];
        else if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            value = 0xFFFD;
        *decoded = QString::fromUcs4(&value, 1);
        return i;
    }
    qsizetype i = 0;
    while (i < n && i < MaxReferenceName && isAsciiAlnum(text.at(i)))
        ++i;
    if (i == 0)
        return 0;
    const auto found = namedReferences().constFind(text.left(i).toString());
    if (found == namedReferences().cend())
        return 0;
    if (i < n && text.at(i) == u';')
        ++i;
    const char32_t value = found.value();
    *decoded = QString::fromUcs4(&value, 1);
    return i;
}

QString HtmlText::visibleText(QStringView html, QStringList *links)
{
    Writer out(html.size());
    const qsizetype n = html.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = html.at(i);
        if (c == u'&') {
            QString decoded;
            const qsizetype used = decodeReference(html.mid(i + 1), &decoded);
            if (used > 0) {
                out.text(decoded);
                i += 1 + used;
                continue;
            }
            out.character(c);
            ++i;
            continue;
        }
        if (c != u'<' || i + 1 >= n) {
            out.character(c);
            ++i;
            continue;
        }
        const QChar next = html.at(i + 1);
        if (html.mid(i, 4) == u"<!--") {
            const qsizetype end = html.indexOf(u"-->", i + 4);
            i = end < 0 ? n : end + 3;
            continue;
        }
        if (next == u'!' || next == u'?') {
            const qsizetype end = html.indexOf(u'>', i + 2);
            i = end < 0 ? n : end + 1;
            continue;
        }
        const bool tagStart = isAsciiLetter(next) || (next == u'/' && i + 2 < n && isAsciiLetter(html.at(i + 2)));
        if (!tagStart) {
            out.character(c);
            ++i;
            continue;
        }
        QString name;
        bool closing = false;
        i = parseTag(html, i, &name, &closing, links);
        if (!closing && (name == u"script"_s || name == u"style"_s)) {
            const QString closeTag = u"</"_s + name;
            const qsizetype end = html.indexOf(closeTag, i, Qt::CaseInsensitive);
            if (end < 0) {
                i = n;
            } else {
                const qsizetype close = html.indexOf(u'>', end);
                i = close < 0 ? n : close + 1;
            }
            out.breakHere(Break::Space);
            continue;
        }
        out.breakHere(breakOf(name));
    }
    return out.take();
}

bool HtmlText::looksLikeHtml(QStringView text)
{
    const QStringView start = text.left(4096).trimmed();
    if (!start.startsWith(u'<'))
        return false;
    static const QStringList markers = {u"<html"_s, u"<body"_s, u"<!doctype html"_s, u"<table"_s, u"<font"_s, u"<div"_s,
                                        u"<p>"_s,   u"<br"_s,   u"<a href"_s};
    for (const QString &marker : markers) {
        if (start.contains(marker, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

} // namespace Scan
