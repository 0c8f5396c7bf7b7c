#pragma once
// Text from the control is byte-exact (one character per byte). The scan
// compares and shows it decoded: UTF-8 where the bytes are valid UTF-8,
// else Latin-1, so no byte is lost either way.

#include <QString>

namespace Scan {

QString decodeServerText(const QString &latin1Bytes);

// The same as text.toUpper(), quicker for the plain ASCII most mail is made of.
QString upperCased(const QString &text);

// "Contains" of the rules: both sides already upper-cased; an empty entry is
// contained in every non-empty text, an empty text contains nothing.
bool containsEntry(const QString &upperText, const QString &upperEntry);

} // namespace Scan
