#include "platform/addressbook/vcardreader.h"

#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace {

bool isQuotedPrintable(const QByteArray &nameAndParameters)
{
    return nameAndParameters.toUpper().contains("QUOTED-PRINTABLE");
}

// The name-and-parameters part ends at the first ':' outside double quotes.
qsizetype valueSeparator(const QByteArray &line)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == '"')
            quoted = !quoted;
        else if (line.at(i) == ':' && !quoted)
            return i;
    }
    return -1;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

QByteArray decodeQuotedPrintable(const QByteArray &in)
{
    QByteArray out;
    out.reserve(in.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        const char c = in.at(i);
        if (c == '=' && i + 2 < in.size() && hexValue(in.at(i + 1)) >= 0 && hexValue(in.at(i + 2)) >= 0) {
            out += char(hexValue(in.at(i + 1)) * 16 + hexValue(in.at(i + 2)));
            i += 2;
        } else {
            out += c; // a stray '=' stays as it is
        }
    }
    return out;
}

QString decodeBytes(const QByteArray &bytes, const QByteArray &charset)
{
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData(), QStringDecoder::Flag::Stateless);
        if (decoder.isValid()) {
            const QString text = decoder(bytes);
            if (!decoder.hasError())
                return text;
        }
    }
    // UTF-8 where it is valid, else Latin-1 so that no byte is lost. Stateless,
    // so a sequence cut off at the end is invalid rather than silently dropped.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QByteArray parameterValue(const QByteArray &parameter)
{
    const qsizetype eq = parameter.indexOf('=');
    QByteArray value = eq < 0 ? QByteArray() : parameter.mid(eq + 1).trimmed();
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2);
    return value;
}

QByteArray parameterName(const QByteArray &parameter)
{
    const qsizetype eq = parameter.indexOf('=');
    return (eq < 0 ? parameter : parameter.left(eq)).trimmed().toUpper();
}

} // namespace

QList<QByteArray> VCardReader::logicalLines(const QByteArray &data)
{
    QByteArray text = data;
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    const QList<QByteArray> physical = text.split('\n');

    QList<QByteArray> lines;
    // Where the current logical line's value starts, found by a scan that goes
    // on where it stopped, so long folded lines stay linear.
    qsizetype scanned = 0;
    qsizetype colon = -1;
    bool quoted = false;
    bool quotedPrintable = false;
    for (const QByteArray &line : physical) {
        const bool softBreak = !lines.isEmpty() && quotedPrintable && lines.last().endsWith('=');
        if (softBreak) {
            lines.last().chop(1); // the '='
            lines.last() += line;
        } else if (!lines.isEmpty() && !line.isEmpty() && (line.at(0) == ' ' || line.at(0) == '\t')) {
            lines.last() += line.mid(1);
        } else {
            lines.append(line);
            scanned = 0;
            colon = -1;
            quoted = false;
            quotedPrintable = false;
        }
        const QByteArray &current = lines.last();
        for (; colon < 0 && scanned < current.size(); ++scanned) {
            if (current.at(scanned) == '"') {
                quoted = !quoted;
            } else if (current.at(scanned) == ':' && !quoted) {
                colon = scanned;
                quotedPrintable = isQuotedPrintable(current.left(colon));
            }
        }
    }
    return lines;
}

bool VCardReader::parseProperty(const QByteArray &line, Property &property)
{
    const qsizetype colon = valueSeparator(line);
    if (colon <= 0)
        return false;
    property.value = line.mid(colon + 1);

    // Split name and parameters on ';' outside quotes.
    QList<QByteArray> parts;
    QByteArray current;
    bool quoted = false;
    for (qsizetype i = 0; i < colon; ++i) {
        const char c = line.at(i);
        if (c == '"')
            quoted = !quoted;
        if (c == ';' && !quoted) {
            parts.append(current);
            current.clear();
        } else {
            current += c;
        }
    }
    parts.append(current);

    QByteArray name = parts.takeFirst().trimmed().toUpper();
    const qsizetype dot = name.lastIndexOf('.');
    if (dot >= 0)
        name = name.mid(dot + 1); // "item1.EMAIL"
    if (name.isEmpty())
        return false;
    property.name = name;
    property.parameters = parts;
    return true;
}

QString VCardReader::decodeText(const Property &property)
{
    QByteArray charset;
    QByteArray encoding;
    for (const QByteArray &parameter : property.parameters) {
        const QByteArray name = parameterName(parameter);
        if (name == "CHARSET")
            charset = parameterValue(parameter);
        else if (name == "ENCODING")
            encoding = parameterValue(parameter).toUpper();
        else if (name == "QUOTED-PRINTABLE" || name == "BASE64" || name == "B")
            encoding = name; // vCard 2.1 allows the bare value
    }
    QByteArray bytes = property.value;
    if (encoding == "QUOTED-PRINTABLE")
        bytes = decodeQuotedPrintable(bytes);
    else if (encoding == "BASE64" || encoding == "B")
        bytes = QByteArray::fromBase64(bytes);
    return decodeBytes(bytes, charset);
}

QString VCardReader::unescape(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\\' && i + 1 < text.size()) {
            const QChar next = text.at(++i);
            out += (next == u'n' || next == u'N') ? QChar(u'\n') : next;
        } else {
            out += c;
        }
    }
    return out;
}

// Splits on ';' that is not escaped, then unescapes each component.
QList<QString> VCardReader::splitComponents(const QString &value)
{
    QList<QString> components;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= value.size(); ++i) {
        if (i < value.size() && value.at(i) == u'\\') {
            ++i;
            continue;
        }
        if (i == value.size() || value.at(i) == u';') {
            components.append(unescape(QStringView(value).mid(start, i - start)));
            start = i + 1;
        }
    }
    return components;
}

// N is "Family;Given;Additional;Prefix;Suffix"; shown as "Prefix Given Additional Family Suffix".
QString VCardReader::structuredName(const QString &value)
{
    const QList<QString> parts = splitComponents(value);
    const auto part = [&](int i) { return i < parts.size() ? parts.at(i).trimmed() : QString(); };
    QStringList words;
    for (int i : {3, 1, 2, 0, 4}) {
        const QString word = part(i).replace(u',', u' ').simplified();
        if (!word.isEmpty())
            words.append(word);
    }
    return words.join(u' ');
}

QList<VCardContact> VCardReader::parse(const QByteArray &data)
{
    QList<VCardContact> contacts;
    struct Card
    {
        QString formattedName;
        QString name;
        QString organization;
        QString email;
    } card;
    int depth = 0;

    const auto finish = [&] {
        QString display = card.formattedName;
        if (display.isEmpty())
            display = card.name;
        if (display.isEmpty())
            display = card.organization;
        if (display.isEmpty())
            display = card.email;
        if (!display.isEmpty())
            contacts.append({display, card.email});
        card = Card();
    };

    const QList<QByteArray> lines = logicalLines(data);
    for (const QByteArray &line : lines) {
        Property property;
        if (!parseProperty(line, property))
            continue;
        if (property.name == "BEGIN") {
            if (property.value.trimmed().compare("VCARD", Qt::CaseInsensitive) == 0) {
                if (depth == 0)
                    card = Card();
                ++depth; // a 2.1 AGENT may nest a whole card
            }
            continue;
        }
        if (property.name == "END") {
            if (property.value.trimmed().compare("VCARD", Qt::CaseInsensitive) == 0 && depth > 0) {
                if (--depth == 0)
                    finish();
            }
            continue;
        }
        if (depth != 1)
            continue;

        if (property.name == "FN" && card.formattedName.isEmpty()) {
            card.formattedName = unescape(decodeText(property)).simplified();
        } else if (property.name == "N" && card.name.isEmpty()) {
            card.name = structuredName(decodeText(property));
        } else if (property.name == "ORG" && card.organization.isEmpty()) {
            const QList<QString> units = splitComponents(decodeText(property));
            card.organization = units.isEmpty() ? QString() : units.first().simplified();
        } else if (property.name == "EMAIL" && card.email.isEmpty()) {
            QString address = unescape(decodeText(property)).trimmed();
            if (address.startsWith(u"mailto:"_s, Qt::CaseInsensitive))
                address = address.mid(7).trimmed();
            card.email = address;
        }
    }
    // A file cut short still yields its last card.
    if (depth > 0)
        finish();
    return contacts;
}
