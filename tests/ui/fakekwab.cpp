// A stand-in address-book library with the same six entry points as
// libkwab.so, scripted by the test and logging every call, so the import's
// calling order and its handling of odd results can be checked.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Entry
{
    bool hasName = false;
    std::string name;
    bool hasEmail = false;
    std::string email;
};

struct State
{
    int32_t openResult = 1;
    int32_t count = 0;
    int32_t filled = 0;
    std::vector<Entry> entries;
    std::string log;
};

State &state()
{
    static State instance;
    return instance;
}

constexpr int32_t HandleMark[3] = {7, 8, 9};
constexpr uint64_t FirstId = 1001;

void note(const std::string &call)
{
    if (!state().log.empty())
        state().log += ';';
    state().log += call;
}

// Every call after kWabOpen must pass the handle it filled.
void checkHandle(const int32_t *handle)
{
    if (!handle || std::memcmp(handle, HandleMark, sizeof HandleMark) != 0)
        note("bad-handle");
}

} // namespace

FAKE_EXPORT void fakeKWabReset(int32_t openResult, int32_t count, int32_t filled)
{
    state() = State();
    state().openResult = openResult;
    state().count = count;
    state().filled = filled;
}

// Entry `index` (from 1); a null pointer means the property cannot be read.
FAKE_EXPORT void fakeKWabSetEntry(int32_t index, const char *name, int32_t nameLength, const char *email,
                                  int32_t emailLength)
{
    if (index < 1)
        return;
    if (state().entries.size() < size_t(index))
        state().entries.resize(size_t(index));
    Entry &entry = state().entries[size_t(index) - 1];
    entry.hasName = name != nullptr;
    entry.name = name ? std::string(name, size_t(nameLength)) : std::string();
    entry.hasEmail = email != nullptr;
    entry.email = email ? std::string(email, size_t(emailLength)) : std::string();
}

FAKE_EXPORT const char *fakeKWabLog() { return state().log.c_str(); }

FAKE_EXPORT int32_t kWabOpen(int32_t *handle)
{
    const bool zeroed = handle && handle[0] == 0 && handle[1] == 0 && handle[2] == 0;
    note(zeroed ? "open" : "open-unzeroed");
    if (handle && state().openResult != 0)
        std::memcpy(handle, HandleMark, sizeof HandleMark);
    return state().openResult;
}

FAKE_EXPORT int32_t kWabGetNumEntries(int32_t *handle)
{
    note("num");
    checkHandle(handle);
    return state().count;
}

FAKE_EXPORT int32_t kWabGetEntries(int32_t *handle, uint64_t *firstSlot, int32_t n)
{
    note("entries(" + std::to_string(n) + ")");
    checkHandle(handle);
    // Fills what it was given room for, whatever it then claims.
    for (int32_t i = 0; firstSlot && i < n && i < int32_t(state().entries.size()); ++i)
        firstSlot[i] = FirstId + uint64_t(i);
    return state().filled;
}

FAKE_EXPORT int16_t kWabGetProp_String(int32_t *handle, uint64_t *slot, uint32_t tag, char *buffer,
                                       int32_t bufferLength, int32_t reserved)
{
    const char *what = tag == 0x3001001Eu ? "name" : tag == 0x3003001Eu ? "email" : "tag?";
    note(std::string(what) + "(" + (slot ? std::to_string(*slot) : std::string("null")) + ")");
    checkHandle(handle);
    if (bufferLength != 256 || reserved != 0)
        note("bad-arguments");
    if (!buffer || !slot || *slot < FirstId || *slot - FirstId >= state().entries.size())
        return 0;
    for (int32_t i = 0; i < bufferLength; ++i) {
        if (buffer[i] != 0) {
            note("buffer-not-cleared");
            break;
        }
    }
    const Entry &entry = state().entries[size_t(*slot - FirstId)];
    const bool wantName = tag == 0x3001001Eu;
    if (wantName ? !entry.hasName : !entry.hasEmail)
        return 0;
    const std::string &value = wantName ? entry.name : entry.email;
    const size_t length = std::min(value.size(), size_t(bufferLength - 1));
    std::memcpy(buffer, value.data(), length);
    buffer[length] = 0;
    // Leave something behind the terminator, as a careless library might.
    if (length + 2 < size_t(bufferLength))
        buffer[length + 1] = 'Z';
    return 1;
}

FAKE_EXPORT void kWabFreeEntries(int32_t *handle, uint64_t *firstSlot, int32_t n)
{
    note("free(" + (firstSlot ? std::to_string(*firstSlot) : std::string("null")) + "," + std::to_string(n) + ")");
    checkHandle(handle);
}

FAKE_EXPORT void kWabClose(int32_t *handle)
{
    note("close");
    checkHandle(handle);
}
