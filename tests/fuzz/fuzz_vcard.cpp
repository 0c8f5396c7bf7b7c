// The vCard reader: any bytes are read without a fault, and reading is
// deterministic.

#include "platform/addressbook/vcardreader.h"
#include "tests/fuzz/fuzzsupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<VCardContact> first = VCardReader::parse(bytes);
    for (const VCardContact &c : first)
        Fuzz::check(!c.displayName.isEmpty() || !c.email.isEmpty(), "a contact with neither name nor address");
    Fuzz::check(VCardReader::parse(bytes) == first, "two readings differ");
    return 0;
}
