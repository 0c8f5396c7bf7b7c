#pragma once
// What the command-line scan prints about a run: the lines for standard
// output, the problems for standard error, or one JSON object. Texts from
// servers and files reach a terminal or a log here, so each is made safe
// first: control, format and line-separator characters are shown escaped
// (ESC as \x1b, a right-to-left override as \u202e), and a text is cut at
// MaxTextLength characters with "...".

#include "scan/accountresult.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace Scan {

class ScanReport final
{
public:
    // `problems`: every problem of the run, those of the accounts included.
    ScanReport(const QString &folder, const QList<AccountResult> &results, const QStringList &problems);

    // For each account its condemned messages, then its line; then the summary.
    QString text() const;
    // One line per problem; empty when there was none.
    QString problemsText() const;
    QString json() const;

    // The line standard output carries for a condemned message: "Spam from"
    // and the sender for one marked for deletion, as the window's box reads;
    // "Held for review: " and the sender for one left on the server.
    static QString spamLine(const AccountResult::Condemned &message);
    // One line of terminal text: line breaks become blanks, other controls
    // and format characters are escaped, and it is cut at `maxLength`
    // characters (none when negative).
    static QString safeText(const QString &text, qsizetype maxLength = MaxTextLength);
    // A JSON document whose strings escape every control and format
    // character, DEL and C1 included (QJsonDocument leaves those raw).
    static QString escapedJson(const QString &json);

    // The window's status line and notification after a scan with problems:
    // every failed account by name with its error ("2 accounts failed:
    // mail.example (alice): wrong password; pop.test (bob): no answer"),
    // then what else went wrong. `problems` as for the constructor.
    static QString windowSummary(const QList<AccountResult> &results, const QStringList &problems);
    // The status line while an account's server is reached and answers:
    // a silent server must not leave the previous account's words in sight.
    static QString scanningCaption(const QString &server, const QString &login);

    static constexpr qsizetype MaxTextLength = 300;

private:
    QString m_folder;
    QList<AccountResult> m_results;
    QStringList m_problems;
};

} // namespace Scan
