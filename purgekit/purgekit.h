#ifndef PURGEKIT_H
#define PURGEKIT_H

/*
 * Purgekit: deletes or resets the settings of the Lookout product family in
 * the settings store. Outside programs load libpurgekit.so and call single
 * exports; the library keeps no state between calls.
 *
 * How it works: every call opens its own store objects on the per-user
 * (HKCU) or machine-wide (HKLM) store file, which live in
 * $DIALSCOPE_REGISTRY_DIR when it is set (read anew on every call), does its
 * one delete or write, and closes them again, so any thread may call any
 * export at any time. Keys are deleted only when they have no subkeys.
 *
 * Every export returns 1 for success and 0 for failure:
 * - the three-key Del...Set exports always return 1, whatever each delete did;
 * - DelKestrelSet and DelNightjarSet return 1 only when their key was deleted;
 * - the Set...NTSC / Set...PAL exports create their "...\Setting" key with its
 *   parents when missing and write the DWORD "VideoDecoder" (0 NTSC, 1 PAL);
 *   they return 0 only when the key cannot be created or opened;
 * - SetuLookoutReg writes a DWORD under HKLM "software\R8K2"; it returns 0
 *   when that key cannot be created or opened (or the name is a null
 *   pointer), and 1 otherwise without checking the write itself.
 */

#include <stdint.h>

#define PURGEKIT_API __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

PURGEKIT_API int32_t DelaMLookoutSet(void);
PURGEKIT_API int32_t DeleMLookoutSet(void);
PURGEKIT_API int32_t DelaLookoutSet(void);
PURGEKIT_API int32_t DeleLookoutSet(void);
PURGEKIT_API int32_t DeluLookoutSet(void);

PURGEKIT_API int32_t DelKestrelSet(void);
PURGEKIT_API int32_t DelNightjarSet(void);

PURGEKIT_API int32_t SeteLookoutNTSC(void);
PURGEKIT_API int32_t SeteLookoutPAL(void);
PURGEKIT_API int32_t SetaLookoutNTSC(void);
PURGEKIT_API int32_t SetaLookoutPAL(void);
PURGEKIT_API int32_t SetaMLookoutNTSC(void);
PURGEKIT_API int32_t SetaMLookoutPAL(void);
PURGEKIT_API int32_t SeteMLookoutNTSC(void);
PURGEKIT_API int32_t SeteMLookoutPAL(void);

PURGEKIT_API int32_t SetuLookoutReg(const char* valueName, uint32_t value);

#ifdef __cplusplus
}
#endif

#endif
