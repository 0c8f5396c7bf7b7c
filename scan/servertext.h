#pragma once
// Text from the control is byte-exact (one character per byte). The scan
// compares and shows it decoded: UTF-8 where the bytes are valid UTF-8,
// else Latin-1, so no byte is lost either way.

#include <QString>
#include <QStringList>
#include <QStringView>

#include <functional>

namespace Scan {

class KeywordMatcher;

QString decodeServerText(const QString &latin1Bytes);

// The same as text.toUpper(), quicker for the plain ASCII most mail is made of.
QString upperCased(const QString &text);

// "Contains" of the rules: both sides already upper-cased; an empty entry is
// contained in every non-empty text, an empty text contains nothing.
bool containsEntry(const QString &upperText, const QString &upperEntry);

// A message body as the rules compare it: upperCased(decodeServerText(text)).
// A small body is held that way. A large one is held only as the control's
// own text (shared, not copied) and walked in decoded, upper-cased pieces, so
// that a large message is not held twice over while it is judged.
class ServerBody final
{
public:
    static constexpr qsizetype DefaultPieceSize = qsizetype(1) << 18;

    ServerBody() = default;
    explicit ServerBody(const QString &latin1Bytes, qsizetype pieceSize = DefaultPieceSize);

    // matcher.firstMatch() of the whole text; upperEntries are what it was built from.
    int firstMatch(const KeywordMatcher &matcher, const QStringList &upperEntries) const;
    // containsEntry() of the whole text.
    bool contains(const QString &upperEntry) const;

private:
    // Hands visit the text in pieces, each led by the last `overlap` code units
    // before it, so every run of up to overlap + 1 units lies whole in one
    // piece; stops at the first piece for which visit returns true.
    bool anyPiece(qsizetype overlap, const std::function<bool(QStringView)> &visit) const;
    qsizetype pieceEnd(qsizetype start) const;

    QString m_upper; // a small body, whole
    QString m_raw;   // a large body, as the control holds it
    bool m_inPieces = false;
    bool m_utf8 = false;
    qsizetype m_pieceSize = DefaultPieceSize;
};

} // namespace Scan
