/* Address-book library: the user's contacts, read from vCard files.
 * Bound by name at run time, so every entry point has C linkage. */
#ifndef KWAB_H
#define KWAB_H

#include <stdint.h>

#if defined(KWAB_LIBRARY)
#define KWAB_EXPORT __attribute__((visibility("default")))
#else
#define KWAB_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Zeroed by the caller, filled by kWabOpen; the caller never reads it. */
struct KWabHandle
{
    int32_t session; /* 1-based index into the library's table, 0 = not open */
    int32_t cookie;  /* guards against a stale or forged session index */
    int32_t magic;   /* KWAB_HANDLE_MAGIC while open */
};

#define KWAB_HANDLE_MAGIC 0x4B574142 /* 'KWAB' */

/* Property tags (8-bit strings) for kWabGetProp_String. */
#define KWAB_PR_DISPLAY_NAME 0x3001001Eu
#define KWAB_PR_EMAIL_ADDRESS 0x3003001Eu

/* Non-zero when the address book is open. */
KWAB_EXPORT int32_t kWabOpen(struct KWabHandle *handle);
KWAB_EXPORT int32_t kWabGetNumEntries(struct KWabHandle *handle);
/* Fills up to n 8-byte slots with opaque entry ids; returns how many it filled. */
KWAB_EXPORT int32_t kWabGetEntries(struct KWabHandle *handle, uint64_t *firstSlot, int32_t n);
/* Writes the value as a NUL-terminated UTF-8 string, never more than bufferLength
 * bytes (cut at a character boundary). Non-zero on success, 0 when the entry
 * has no such value or the slot is not one of this handle's entries. */
KWAB_EXPORT int16_t kWabGetProp_String(struct KWabHandle *handle, uint64_t *slot, uint32_t tag, char *buffer,
                                       int32_t bufferLength, int32_t reserved);
KWAB_EXPORT void kWabFreeEntries(struct KWabHandle *handle, uint64_t *firstSlot, int32_t n);
KWAB_EXPORT void kWabClose(struct KWabHandle *handle);

#ifdef __cplusplus
}
#endif

#endif /* KWAB_H */
