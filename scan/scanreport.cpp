#include "scan/scanreport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPair>

using namespace Qt::StringLiterals;

namespace Scan {

namespace {

const QString Ellipsis = u"..."_s;

// What a terminal or a viewer would act on rather than show: C0, DEL and C1
// controls, format characters (bidirectional overrides, zero-width ones),
// line and paragraph separators, and halves of a broken surrogate pair.
bool unsafe(char32_t c)
{
    if (c < 0x20 || (c >= 0x7f && c <= 0x9f))
        return true;
    switch (QChar::category(c)) {
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph: return true;
    default: return false;
    }
}

// The code point at `at` and how many UTF-16 units it takes; a lone
// surrogate stands for itself.
char32_t codePointAt(const QString &text, qsizetype at, int *units)
{
    const QChar c = text.at(at);
    if (c.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate()) {
        *units = 2;
        return QChar::surrogateToUcs4(c, text.at(at + 1));
    }
    *units = 1;
    return c.unicode();
}

QString hex(char32_t c, int width) { return QString::number(c, 16).rightJustified(width, u'0'); }

// Without the blanks and line ends around it, cut at `maxLength`
// characters, never inside a surrogate pair.
// Where the text begins and ends without the blanks and line ends around it.
QPair<qsizetype, qsizetype> trimmedBounds(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).isSpace())
        ++begin;
    while (end > begin && text.at(end - 1).isSpace())
        --end;
    return {begin, end};
}

QString clipped(const QString &text, qsizetype maxLength = ScanReport::MaxTextLength)
{
    const auto [begin, end] = trimmedBounds(text);
    if (end - begin <= maxLength)
        return text.mid(begin, end - begin);
    qsizetype keep = maxLength - Ellipsis.size();
    if (keep > 0 && text.at(begin + keep - 1).isHighSurrogate())
        --keep;
    return text.mid(begin, keep) + Ellipsis;
}

QString counts(int scanned, int condemned, int deleted)
{
    return u"%1 scanned, %2 condemned, %3 deleted"_s.arg(scanned).arg(condemned).arg(deleted);
}

QString problemCount(qsizetype problems) { return problems == 1 ? u"1 problem"_s : u"%1 problems"_s.arg(problems); }

// What the window calls an account; the two cells are what the user typed.
QString accountName(const QString &server, const QString &login)
{
    constexpr qsizetype CellLength = 100;
    return ScanReport::safeText(server, CellLength) + u" ("_s + ScanReport::safeText(login, CellLength) + u')';
}

// An error as one item of a list joined by "; ".
QString listItem(const QString &text)
{
    QString item = ScanReport::safeText(text);
    while (item.endsWith(u'.') && !item.endsWith(Ellipsis))
        item.chop(1);
    return item;
}

QJsonArray clippedArray(const QStringList &texts)
{
    QJsonArray array;
    for (const QString &text : texts)
        array.append(clipped(text));
    return array;
}

} // namespace

ScanReport::ScanReport(const QString &folder, const QList<AccountResult> &results, const QStringList &problems)
    : m_folder(folder)
    , m_results(results)
    , m_problems(problems)
{}

QString ScanReport::spamLine(const AccountResult::Condemned &message)
{
    return (message.held ? u"Held for review: "_s : u"Spam from"_s) + message.from;
}

QString ScanReport::safeText(const QString &text, qsizetype maxLength)
{
    const auto [begin, end] = trimmedBounds(text);
    // Only what can be shown is looked at: a megabyte of sender costs no more
    // than its first few hundred characters.
    const qsizetype limit = maxLength < 0 ? end : qMin(end, begin + maxLength * 2 + 2);
    QString line;
    qsizetype fits = 0; // the length of `line` up to the last character that leaves room for "..."
    for (qsizetype at = begin; at < limit;) {
        int units = 1;
        const char32_t c = codePointAt(text, at, &units);
        if (c == u'\r' && at + 1 < limit && text.at(at + 1) == u'\n') {
            line += u' ';
            ++units;
        } else if (c == u'\r' || c == u'\n' || c == u'\t') {
            line += u' ';
        } else if (!unsafe(c)) {
            line += text.mid(at, units);
        } else if (c < 0x100) {
            line += u"\\x"_s + hex(c, 2);
        } else if (c < 0x10000) {
            line += u"\\u"_s + hex(c, 4);
        } else {
            line += u"\\U"_s + hex(c, 8);
        }
        at += units;
        if (maxLength < 0)
            continue;
        if (line.size() <= maxLength - Ellipsis.size())
            fits = line.size();
        if (line.size() > maxLength || (line.size() == maxLength && at < end))
            return line.left(fits) + Ellipsis;
    }
    if (limit < end)
        return line.left(fits) + Ellipsis;
    return line;
}

QString ScanReport::escapedJson(const QString &json)
{
    QString escaped;
    escaped.reserve(json.size());
    for (qsizetype at = 0; at < json.size();) {
        int units = 1;
        const char32_t c = codePointAt(json, at, &units);
        if (!unsafe(c)) {
            escaped += json.mid(at, units);
        } else if (units == 2) {
            escaped += u"\\u"_s + hex(json.at(at).unicode(), 4) + u"\\u"_s + hex(json.at(at + 1).unicode(), 4);
        } else {
            // Outside strings a document holds only ASCII punctuation, digits,
            // letters and white space, so what is unsafe is inside a string.
            escaped += c == u'\n' ? u"\n"_s : u"\\u"_s + hex(c, 4);
        }
        at += units;
    }
    return escaped;
}

QString ScanReport::windowSummary(const QList<AccountResult> &results, const QStringList &problems)
{
    QStringList failures;
    QStringList told; // a failed account's problems: its error already says what went wrong
    for (const AccountResult &r : results) {
        if (!r.failed())
            continue;
        failures.append(accountName(r.server, r.login) + u": "_s + listItem(r.error));
        told += r.problems;
    }
    QStringList others;
    for (const QString &problem : problems) {
        if (!told.removeOne(problem))
            others.append(problem);
    }
    QString text;
    if (!failures.isEmpty()) {
        text = (failures.size() == 1 ? u"1 account failed: "_s : u"%1 accounts failed: "_s.arg(failures.size()))
               + failures.join(u"; "_s);
    }
    if (others.isEmpty())
        return text;
    const QString last = safeText(others.last());
    if (text.isEmpty())
        return others.size() == 1 ? last : u"%1 problems in this scan; the last: %2"_s.arg(others.size()).arg(last);
    if (others.size() == 1)
        return text + u"; and 1 other problem: "_s + last;
    return text + u"; and %1 other problems, the last: %2"_s.arg(others.size()).arg(last);
}

QString ScanReport::scanningCaption(const QString &server, const QString &login)
{
    return u"Scanning "_s + accountName(server, login) + u"\u2026"_s;
}

QString ScanReport::text() const
{
    QString text;
    int failed = 0, scanned = 0, condemned = 0, deleted = 0;
    for (const AccountResult &r : m_results) {
        for (const AccountResult::Condemned &message : r.spam)
            text += safeText(spamLine(message)) + u'\n';
        text += safeText(r.server) + u' ' + safeText(r.login) + u": "_s;
        if (!r.failed())
            text += counts(r.scanned, r.condemned, r.deleted);
        else if (r.scanned == 0)
            text += u"failed: "_s + safeText(r.error);
        else
            text += u"failed: "_s + safeText(r.error) + u" ("_s + counts(r.scanned, r.condemned, r.deleted) + u')';
        // A failed account's line already says what went wrong; its
        // problems, that one among them, are on standard error.
        if (!r.failed() && !r.problems.isEmpty())
            text += u", "_s + problemCount(r.problems.size());
        text += u'\n';
        failed += r.failed() ? 1 : 0;
        scanned += r.scanned;
        condemned += r.condemned;
        deleted += r.deleted;
    }
    text += QString::number(m_results.size()) + (m_results.size() == 1 ? u" account, "_s : u" accounts, "_s)
            + QString::number(failed) + u" failed: "_s + counts(scanned, condemned, deleted) + u'\n';
    return text;
}

QString ScanReport::problemsText() const
{
    QString text;
    for (const QString &problem : m_problems)
        text += safeText(problem) + u'\n';
    return text;
}

QString ScanReport::json() const
{
    QJsonArray accounts;
    int failed = 0, scanned = 0, condemned = 0, deleted = 0;
    for (const AccountResult &r : m_results) {
        QJsonArray spam;
        QJsonArray verdicts;
        for (const AccountResult::Condemned &message : r.spam) {
            spam.append(clipped(spamLine(message)));
            verdicts.append(QJsonObject{
                {u"from"_s, clipped(message.from)},
                {u"subject"_s, clipped(message.subject)},
                {u"rule"_s, clipped(message.rule)},
                {u"entry"_s, clipped(message.entry)},
                {u"held"_s, message.held},
            });
        }
        accounts.append(QJsonObject{
            {u"server"_s, clipped(r.server)},
            {u"login"_s, clipped(r.login)},
            {u"ok"_s, !r.failed()},
            {u"error"_s, r.failed() ? QJsonValue(clipped(r.error)) : QJsonValue()},
            {u"scanned"_s, r.scanned},
            {u"condemned"_s, r.condemned},
            {u"deleted"_s, r.deleted},
            {u"spam"_s, spam},
            {u"verdicts"_s, verdicts},
            {u"problems"_s, clippedArray(r.problems)},
        });
        failed += r.failed() ? 1 : 0;
        scanned += r.scanned;
        condemned += r.condemned;
        deleted += r.deleted;
    }
    const QJsonObject summary{
        {u"accounts"_s, int(m_results.size())},
        {u"failed"_s, failed},
        {u"scanned"_s, scanned},
        {u"condemned"_s, condemned},
        {u"deleted"_s, deleted},
    };
    const QJsonObject root{
        {u"folder"_s, m_folder},
        {u"accounts"_s, accounts},
        {u"summary"_s, summary},
        {u"problems"_s, clippedArray(m_problems)},
    };
    return escapedJson(QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented)));
}

} // namespace Scan
