#include "pop3/replyparsing.h"

#include <QByteArray>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace Tarnpostctl::ReplyParsing {

QString trimBlanks(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.mid(begin, end - begin).toString();
}

qint32 leadingNumber(QStringView text)
{
    QByteArray number;
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto skipBlanks = [&] {
        while (i < n && text.at(i) == u' ')
            ++i;
    };
    auto takeDigits = [&] {
        bool any = false;
        for (skipBlanks(); i < n && text.at(i).isDigit() && text.at(i).unicode() < 128; skipBlanks()) {
            number += char(text.at(i).unicode());
            ++i;
            any = true;
        }
        return any;
    };
    skipBlanks();
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
        number += char(text.at(i).unicode());
        ++i;
    }
    bool any = takeDigits();
    if (i < n && text.at(i) == u'.') {
        number += '.';
        ++i;
        any = takeDigits() || any;
    }
    if (!any)
        return 0;
    if (i < n && (text.at(i) == u'e' || text.at(i) == u'E')) {
        const qsizetype mark = i;
        QByteArray exponent = "e";
        ++i;
        skipBlanks();
        if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) {
            exponent += char(text.at(i).unicode());
            ++i;
        }
        const QByteArray mantissa = number;
        number.clear();
        if (takeDigits())
            number = mantissa + exponent + number;
        else {
            number = mantissa;
            i = mark;
        }
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok || std::isnan(value))
        return 0;
    const double rounded = std::nearbyint(value); // half to even
    if (rounded >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (rounded <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return qint32(rounded);
}

StatFields parseStat(const QString &reply)
{
    // Without a blank after the count there is no size: it reads as 0.
    const QStringView rest = QStringView(reply).mid(qMin<qsizetype>(4, reply.size()));
    const qsizetype blank = rest.indexOf(u' ');
    StatFields fields;
    fields.count = leadingNumber(blank >= 0 ? rest.left(blank) : rest);
    fields.size = blank >= 0 ? leadingNumber(rest.mid(blank + 1)) : 0;
    return fields;
}

QString cutReplyField(const QString &reply)
{
    QString rest = reply.mid(4);
    const qsizetype blank = rest.indexOf(u' ');
    if (blank >= 0)
        rest.remove(0, blank + 1);
    rest.chop(2);
    return rest;
}

HeaderMatch findHeader(const QString &headers, const QString &name)
{
    // The CR LF in front lets the first line match like every other.
    const QString block = "\r\n"_L1 + headers;
    QString key = "\r\n"_L1 + trimBlanks(name);
    if (!key.endsWith(u':'))
        key += u':';

    HeaderMatch match;
    const qsizetype position = block.indexOf(key, 0, Qt::CaseInsensitive);
    if (position < 0)
        return match;
    match.found = true;
    match.nameStart = position + 2;
    const QStringView rest = QStringView(block).mid(position + 2);
    const qsizetype crlf = rest.indexOf("\r\n"_L1);
    match.lineEnd = crlf;
    const QStringView line = crlf >= 0 ? rest.left(crlf) : rest;
    match.value = trimBlanks(line.mid(line.indexOf(u':') + 1));
    return match;
}

} // namespace Tarnpostctl::ReplyParsing
