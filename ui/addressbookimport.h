#pragma once
// "Import" on the Whitelist tab: appends the e-mail addresses of the desktop
// address book to the whitelist, through the address-book library that ships
// beside the program.

#include <QString>

class frmMain;

// The address-book library in the program's folder.
QString addressBookLibraryPath(const QString &programFolder);

// Imports through the library at `libraryPath`, bound by name on the call.
// The rows are in memory only, like any other edit, until Save Settings.
void ImportAddressBook(frmMain &form, const QString &libraryPath);
