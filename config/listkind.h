#pragma once
// The four lists and where each one lives on a form.

#include <QString>

class ConfigForm;
class ListTable;
enum class FormBox;

enum class ListKind { Accounts, Whitelist, Blacklist, Keywords };

namespace Lists {

ListTable *table(const ConfigForm &form, ListKind kind);
FormBox countBox(ListKind kind);
QString fileName(ListKind kind); // "accounts.dat", ...
QString filePath(const ConfigForm &form, ListKind kind);
QString caption(ListKind kind);     // the grid's caption line
QString savedSuffix(ListKind kind); // ends the "saved" progress line: " accounts.", ...
// Appends a row and writes the new row count into the list's count box.
void appendRow(ConfigForm &form, ListKind kind, const QStringList &cells);

} // namespace Lists
