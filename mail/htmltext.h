#pragma once
// The text a reader of an HTML mail sees: tags and comments removed (so a
// word split by an empty tag or comment is whole again), script and style
// dropped, character references decoded, white space collapsed, block
// elements ending a line. Link targets (href, src) are collected apart:
// they are not visible, but the learned filter wants their hosts.

#include <QString>
#include <QStringList>
#include <QStringView>

namespace Scan {

class HtmlText final
{
public:
    static constexpr int MaxLinks = 200;

    // Linear in the input; text after an unterminated tag or comment is
    // treated as part of it, as a browser would.
    static QString visibleText(QStringView html, QStringList *links = nullptr);

    // One character reference without its '&' at the start of text (for
    // example "amp;" or "#x41;"); returns the characters consumed, 0 when
    // there is no reference, and the decoded text in *decoded.
    static qsizetype decodeReference(QStringView text, QString *decoded);

    // Sniffing for parts labelled text/plain that are really HTML.
    static bool looksLikeHtml(QStringView text);
};

} // namespace Scan
