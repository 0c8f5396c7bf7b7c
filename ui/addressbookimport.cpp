#include "ui/addressbookimport.h"

#include "config/datafile.h"
#include "config/listtable.h"
#include "platform/messagebox/messagebox.h"
#include "ui/frmmain.h"

#include <QByteArray>
#include <QLibrary>
#include <QLineEdit>

#include <cstdint>
#include <new>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Zeroed here, filled by the library, never read here.
struct KWabHandle
{
    int32_t fields[3] = {0, 0, 0};
};

using OpenFn = int32_t (*)(KWabHandle *);
using GetNumEntriesFn = int32_t (*)(KWabHandle *);
using GetEntriesFn = int32_t (*)(KWabHandle *, uint64_t *, int32_t);
using GetPropStringFn = int16_t (*)(KWabHandle *, uint64_t *, uint32_t, char *, int32_t, int32_t);
using FreeEntriesFn = void (*)(KWabHandle *, uint64_t *, int32_t);
using CloseFn = void (*)(KWabHandle *);

constexpr uint32_t PR_DISPLAY_NAME_A = 0x3001001E;
constexpr uint32_t PR_EMAIL_ADDRESS_A = 0x3003001E;
constexpr int32_t BufferLength = 256;

// The library writes one NUL-terminated string. Whatever follows the first
// NUL is not part of it, and a line break would split the row in two when
// the whitelist is saved.
QString bufferText(const QByteArray &buffer)
{
    const qsizetype nul = buffer.indexOf('\0');
    QString text = DataFile::decode(nul < 0 ? buffer : buffer.left(nul));
    text.replace(u'\r', u' ');
    text.replace(u'\n', u' ');
    return text;
}

void tell(frmMain &form, const QString &text) { MessageBox::show(&form, text, QString(), MessageBox::OkOnly); }

} // namespace

QString addressBookLibraryPath(const QString &programFolder) { return programFolder + u"/libkwab.so"_s; }

void ImportAddressBook(frmMain &form, const QString &libraryPath)
{
    QLibrary library(libraryPath);
    const auto open = reinterpret_cast<OpenFn>(library.resolve("kWabOpen"));
    const auto getNumEntries = reinterpret_cast<GetNumEntriesFn>(library.resolve("kWabGetNumEntries"));
    const auto getEntries = reinterpret_cast<GetEntriesFn>(library.resolve("kWabGetEntries"));
    const auto getProp = reinterpret_cast<GetPropStringFn>(library.resolve("kWabGetProp_String"));
    const auto freeEntries = reinterpret_cast<FreeEntriesFn>(library.resolve("kWabFreeEntries"));
    const auto close = reinterpret_cast<CloseFn>(library.resolve("kWabClose"));

    // A missing library or entry point is an address book that cannot be opened.
    KWabHandle handle;
    if (!open || !getNumEntries || !getEntries || !getProp || !freeEntries || !close || open(&handle) == 0) {
        tell(form, u"Unable to open the system wab"_s);
        return;
    }

    const int32_t n = getNumEntries(&handle);
    tell(form, u"Number of entries: "_s + QString::number(n));

    ListTable *whitelist = form.gridwhitelist();
    if (n > 0) {
        std::vector<uint64_t> slots;
        try {
            slots.assign(size_t(n), 0);
        } catch (const std::bad_alloc &) {
            // A count no memory can hold: import nothing, but still close.
            close(&handle);
            return;
        }
        // The library never gets more slots than it was given, so never read more.
        const int32_t m = qMin(getEntries(&handle, slots.data(), n), n);
        QByteArray buffer(BufferLength, '\0');
        for (int32_t i = 1; i <= m; ++i) {
            uint64_t *slot = &slots[size_t(i) - 1];
            buffer.fill('\0');
            if (getProp(&handle, slot, PR_DISPLAY_NAME_A, buffer.data(), BufferLength, 0) == 0) {
                tell(form, u"Error getting entry #"_s + QString::number(i));
                continue;
            }
            // The display name is read but not used.
            buffer.fill('\0');
            const bool haveAddress = getProp(&handle, slot, PR_EMAIL_ADDRESS_A, buffer.data(), BufferLength, 0) != 0;
            whitelist->appendRow(QStringList{haveAddress ? bufferText(buffer) : u" <email address not found>"_s});
        }
        if (m >= 1)
            freeEntries(&handle, slots.data(), n);
    }
    close(&handle);
    form.txtwhitelistCount()->setText(QString::number(whitelist->rows()));
}
