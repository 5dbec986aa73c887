/* A small iconv for the Windows cross-build, on Windows' own code page
 * conversions (MultiByteToWideChar / WideCharToMultiByte); mingw has none.
 * libmdb is built against it (scripts/windows/toolchain.sh, part mdbtools).
 *
 * Character sets: UTF-8, UCS-2LE, UTF-16LE, EUC-KR, and the code pages of
 * Windows by the names iconv gives them (CP949, WINDOWS-1252, IBM850, UHC,
 * SHIFT-JIS, BIG-5, ISO-8859-1, KOI8-R ...) where the code page is installed
 * and has characters of at most two bytes. No state, no //TRANSLIT.
 *
 * iconv() keeps POSIX's contract: it converts whole characters while both
 * buffers have room, moves the pointers and counts past what it converted,
 * and stops with -1 and errno EILSEQ (a sequence not valid in the source, or
 * a character the target cannot hold), E2BIG (no room for the next
 * character) or EINVAL (the input ends inside a character), the pointers at
 * that character. */
#ifndef KALDORIA_WINDOWS_ICONV_H
#define KALDORIA_WINDOWS_ICONV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct kaldoria_iconv *iconv_t;

/* (iconv_t)-1 with errno EINVAL for a character set it does not know. */
iconv_t iconv_open(const char *tocode, const char *fromcode);
/* The number of characters converted irreversibly: always 0 (a character the
 * target cannot hold is EILSEQ, never a substitute). A null inbuf resets the
 * (empty) state. */
size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf, size_t *outbytesleft);
int iconv_close(iconv_t cd);

#ifdef __cplusplus
}
#endif

#endif
