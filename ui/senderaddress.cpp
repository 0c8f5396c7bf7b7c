#include "ui/senderaddress.h"

#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype MaxAddress = 254;
constexpr qsizetype MaxLocalPart = 64;
constexpr qsizetype MaxDomain = 253;
constexpr qsizetype MaxLabel = 63;

// Letters and digits of any script count; a control or format character (a
// right-to-left override would disguise the entry) never does.
bool atomCharacter(QChar c) { return c.isLetterOrNumber() || QStringView(u"!#$%&'*+/=?^_`{|}~-").contains(c); }

} // namespace

bool SenderAddress::isDomain(const QString &text)
{
    if (text.size() > MaxDomain)
        return false;
    const QStringList labels = text.split(u'.');
    if (labels.size() < 2)
        return false;
    for (const QString &label : labels) {
        if (label.isEmpty() || label.size() > MaxLabel || label.startsWith(u'-') || label.endsWith(u'-'))
            return false;
        for (const QChar c : label) {
            if (!c.isLetterOrNumber() && c != u'-')
                return false;
        }
    }
    // "1.2" would match any sender with those digits in it.
    const QString &top = labels.last();
    return std::any_of(top.begin(), top.end(), [](QChar c) { return c.isLetter(); });
}

bool SenderAddress::isWholeAddress(const QString &text)
{
    const qsizetype at = text.lastIndexOf(u'@');
    if (text.size() > MaxAddress || at < 1 || at > MaxLocalPart)
        return false;
    const QString local = text.left(at);
    if (local.startsWith(u'.') || local.endsWith(u'.') || local.contains(u".."_s))
        return false;
    for (const QChar c : local) {
        if (!atomCharacter(c) && c != u'.')
            return false;
    }
    return isDomain(text.mid(at + 1));
}

QString SenderAddress::whitelistEntry(const QString &from, QString *why)
{
    const auto refuse = [why](const QString &reason) {
        if (why)
            *why = reason;
        return QString();
    };
    enum class In { Text, Quote, Comment, Angle };
    In in = In::Text;
    int depth = 0;
    QString bare;            // outside quotes, comments and angle brackets
    QString angle;           // inside the angle brackets
    int angles = 0;          // angle-bracket pairs closed
    bool afterAngle = false; // more than blanks and comments after the '>'
    bool quotedName = false; // a quoted string outside the angle brackets
    for (qsizetype i = 0; i < from.size(); ++i) {
        const QChar c = from.at(i);
        switch (in) {
        case In::Quote:
            if (c == u'\\')
                ++i;
            else if (c == u'"')
                in = In::Text;
            continue;
        case In::Comment:
            if (c == u'\\')
                ++i;
            else if (c == u'(')
                ++depth;
            else if (c == u')' && --depth == 0)
                in = In::Text;
            continue;
        case In::Angle:
            if (c == u'>') {
                in = In::Text;
                ++angles;
            } else if (c == u'<') {
                return refuse(u"its angle brackets are not closed"_s);
            } else {
                angle += c;
            }
            continue;
        case In::Text: break;
        }
        if (c == u'"') {
            in = In::Quote;
            quotedName = true;
            afterAngle = afterAngle || angles > 0;
        } else if (c == u'(') {
            in = In::Comment;
            depth = 1;
        } else if (c == u'<') {
            if (angles > 0)
                return refuse(u"it holds more than one address in angle brackets"_s);
            in = In::Angle;
        } else if (c == u'>') {
            return refuse(u"its angle brackets are not matched"_s);
        } else if (c == u',' || c == u';') {
            return refuse(u"it names more than one sender"_s);
        } else if (c.isSpace()) {
            bare += u' ';
        } else {
            bare += c;
            afterAngle = afterAngle || angles > 0;
        }
    }
    if (in != In::Text)
        return refuse(u"a quote, comment or angle bracket in it is not closed"_s);

    QString address;
    if (angles == 1) {
        if (afterAngle)
            return refuse(u"text follows the address in angle brackets"_s);
        address = angle.trimmed();
    } else {
        // Without angle brackets the header must be the address itself.
        if (quotedName)
            return refuse(u"it holds a name but no address"_s);
        address = bare.trimmed();
    }
    if (address.isEmpty())
        return refuse(u"it holds no address"_s);
    if (address.contains(u"=?"_s))
        return refuse(u"encoded text is not an address"_s);
    if (!isWholeAddress(address))
        return refuse(u"\"%1\" is not a whole address (name@host.domain)"_s.arg(address));
    return address;
}
