/* iconv on Windows' code page conversions; the contract is in iconv.h.
 * Every character goes through UTF-16: read one whole character of the
 * source, write it in the target, and only then move the pointers, so a
 * stop leaves them exactly at the character that could not be converted. */
#include "iconv.h"

#include <errno.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

enum kind {
    UTF8,      /* code page 65001 */
    UCS2LE,    /* two bytes a character, no surrogates */
    UTF16LE,   /* two bytes, or four as a surrogate pair */
    EUCKR,     /* code page 949 limited to KS X 1001's two-byte range, as glibc reads it */
    CODEPAGE,  /* a Windows code page of one- and two-byte characters */
};

struct side {
    enum kind kind;
    UINT cp;
};

struct kaldoria_iconv {
    struct side to, from;
};

/* The longest character written: four bytes of UTF-8 or UTF-16. */
enum { MAX_OUT = 4 };

static int same(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b) {
        char x = *a >= 'a' && *a <= 'z' ? (char)(*a - 'a' + 'A') : *a;
        if (x != *b) return 0;
    }
    return *a == *b;
}

/* The number after `prefix` in `name` (case ignored), or 0. */
static unsigned number_after(const char *name, const char *prefix) {
    size_t n = strlen(prefix), i;
    for (i = 0; i < n; ++i) {
        char x = name[i] >= 'a' && name[i] <= 'z' ? (char)(name[i] - 'a' + 'A') : name[i];
        if (x != prefix[i]) return 0;
    }
    if (name[n] < '0' || name[n] > '9') return 0;
    unsigned v = 0;
    for (i = n; name[i]; ++i) {
        if (name[i] < '0' || name[i] > '9' || v > 100000) return 0;
        v = v * 10 + (unsigned)(name[i] - '0');
    }
    return v;
}

static int code_page_fits(UINT cp) {
    CPINFO info;
    return IsValidCodePage(cp) && GetCPInfo(cp, &info) && info.MaxCharSize <= 2;
}

static int side_of(const char *name, struct side *s) {
    static const struct {
        const char *name;
        UINT cp;
    } aliases[] = {
        {"UHC", 949},         {"JOHAB", 1361},      {"SHIFT-JIS", 932},   {"SHIFT_JIS", 932},
        {"SJIS", 932},        {"BIG-5", 950},       {"BIG5", 950},        {"GBK", 936},
        {"KOI8-R", 20866},    {"KOI8-U", 21866},    {"LATIN1", 28591},    {"ASCII", 20127},
        {"US-ASCII", 20127},  {"ISO-8859-13", 28603}, {"ISO-8859-15", 28605},
    };
    size_t i;
    unsigned n;
    s->cp = 0;
    if (same(name, "UTF-8") || same(name, "UTF8")) {
        s->kind = UTF8;
        return 1;
    }
    if (same(name, "UCS-2LE")) {
        s->kind = UCS2LE;
        return 1;
    }
    if (same(name, "UTF-16LE")) {
        s->kind = UTF16LE;
        return 1;
    }
    if (same(name, "EUC-KR") || same(name, "EUCKR")) {
        s->kind = EUCKR;
        s->cp = 949;
        return code_page_fits(949);
    }
    s->kind = CODEPAGE;
    for (i = 0; i < sizeof aliases / sizeof aliases[0]; ++i)
        if (same(name, aliases[i].name)) s->cp = aliases[i].cp;
    if (!s->cp && (n = number_after(name, "ISO-8859-")) >= 1 && n <= 9) s->cp = 28590 + n;
    if (!s->cp && !(n = number_after(name, "CP"))) n = number_after(name, "WINDOWS-");
    if (!s->cp && !n) n = number_after(name, "IBM");
    if (!s->cp) s->cp = n;
    /* UTF-8 by number is UTF-8; UTF-7 and the stateful code pages are not here. */
    if (s->cp == CP_UTF8) s->kind = UTF8;
    return s->cp != 0 && (s->kind == UTF8 || (s->cp != CP_UTF7 && code_page_fits(s->cp)));
}

iconv_t iconv_open(const char *tocode, const char *fromcode) {
    struct kaldoria_iconv cd;
    if (!tocode || !fromcode || !side_of(tocode, &cd.to) || !side_of(fromcode, &cd.from)) {
        errno = EINVAL;
        return (iconv_t)-1;
    }
    iconv_t made = malloc(sizeof cd);
    if (!made) {
        errno = ENOMEM;
        return (iconv_t)-1;
    }
    *made = cd;
    return made;
}

int iconv_close(iconv_t cd) {
    if (cd == (iconv_t)-1 || !cd) {
        errno = EBADF;
        return -1;
    }
    free(cd);
    return 0;
}

static int is_high(WCHAR w) { return w >= 0xD800 && w <= 0xDBFF; }
static int is_low(WCHAR w) { return w >= 0xDC00 && w <= 0xDFFF; }

/* Windows gives the bytes its ANSI code pages leave undefined a character
 * of their own (0x81 of 1252 is U+0081, 0xC9A1 of 949 a private-use one);
 * glibc's iconv, which the Linux build uses, calls them invalid, and so does
 * this one. */
static int defined_in(const struct side *s, unsigned char first, WCHAR w) {
    int ansi = s->cp == 874 || s->cp == 932 || s->cp == 936 || s->cp == 949 || s->cp == 950 ||
               (s->cp >= 1250 && s->cp <= 1258);
    if (ansi && first >= 0x80 && w >= 0x80 && w <= 0x9F) return 0;
    if (s->cp == 949 && w >= 0xE000 && w <= 0xF8FF) return 0;
    return 1;
}

/* Reads one character of `s` at `in` (`left` bytes there) into w[0..*wn).
 * Returns the bytes it takes, or 0 with errno set. */
static size_t decode(const struct side *s, const unsigned char *in, size_t left, WCHAR w[2], int *wn) {
    size_t n = 1;
    switch (s->kind) {
    case UCS2LE:
    case UTF16LE:
        if (left < 2) goto incomplete;
        w[0] = (WCHAR)(in[0] | in[1] << 8);
        *wn = 1;
        if (!is_high(w[0]) && !is_low(w[0])) return 2;
        if (s->kind == UCS2LE || is_low(w[0])) goto invalid;
        if (left < 4) goto incomplete;
        w[1] = (WCHAR)(in[2] | in[3] << 8);
        if (!is_low(w[1])) goto invalid;
        *wn = 2;
        return 4;
    case UTF8: {
        size_t i;
        if (in[0] < 0x80) n = 1;
        else if (in[0] >= 0xC2 && in[0] <= 0xDF) n = 2;
        else if (in[0] >= 0xE0 && in[0] <= 0xEF) n = 3;
        else if (in[0] >= 0xF0 && in[0] <= 0xF4) n = 4;
        else goto invalid;
        for (i = 1; i < n && i < left; ++i)
            if ((in[i] & 0xC0) != 0x80) goto invalid;
        if (left < n) goto incomplete;
        /* Overlong forms, surrogates and values past U+10FFFF fail here. */
        *wn = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, (LPCCH)in, (int)n, w, 2);
        if (*wn <= 0) goto invalid;
        return n;
    }
    case EUCKR:
        /* As glibc: 0x80-0x9F stand for themselves (C1 controls). */
        if (in[0] >= 0x80 && in[0] <= 0x9F) {
            w[0] = in[0];
            *wn = 1;
            return 1;
        }
        if (in[0] >= 0x80) {
            if (in[0] == 0xA0 || in[0] == 0xFF) goto invalid;
            if (left < 2) goto incomplete;
            if (in[1] < 0xA1 || in[1] == 0xFF) goto invalid;
            n = 2;
        }
        break;
    case CODEPAGE:
        if (IsDBCSLeadByteEx(s->cp, in[0])) {
            if (left < 2) goto incomplete;
            n = 2;
        }
        break;
    }
    *wn = MultiByteToWideChar(s->cp, MB_ERR_INVALID_CHARS, (LPCCH)in, (int)n, w, 2);
    if (*wn <= 0 || !defined_in(s, in[0], w[0])) goto invalid;
    return n;
incomplete:
    errno = EINVAL;
    return 0;
invalid:
    errno = EILSEQ;
    return 0;
}

/* Writes w[0..wn) in `s` to out[0..*n). Returns 0 with errno EILSEQ when
 * `s` has no such character. */
static int encode(const struct side *s, const WCHAR *w, int wn, unsigned char out[MAX_OUT], size_t *n) {
    int i, made;
    BOOL defaulted = FALSE;
    switch (s->kind) {
    case UCS2LE:
        if (wn != 1 || is_high(w[0]) || is_low(w[0])) goto invalid;
        /* fall through */
    case UTF16LE:
        if (wn == 1 && (is_high(w[0]) || is_low(w[0]))) goto invalid;
        for (i = 0; i < wn; ++i) {
            out[2 * i] = (unsigned char)(w[i] & 0xFF);
            out[2 * i + 1] = (unsigned char)(w[i] >> 8);
        }
        *n = (size_t)wn * 2;
        return 1;
    case UTF8:
        made = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, w, wn, (LPSTR)out, MAX_OUT, NULL, NULL);
        break;
    default:
        if (s->kind == EUCKR && wn == 1 && w[0] >= 0x80 && w[0] <= 0x9F) {
            out[0] = (unsigned char)w[0];
            *n = 1;
            return 1;
        }
        /* No best-fit look-alikes and no default character: either the
         * code page has the character or it is EILSEQ. */
        made = WideCharToMultiByte(s->cp, WC_NO_BEST_FIT_CHARS, w, wn, (LPSTR)out, MAX_OUT, NULL, &defaulted);
        if (made == 2 && s->kind == EUCKR && (out[0] < 0xA1 || out[1] < 0xA1)) goto invalid;
        break;
    }
    if (made <= 0 || defaulted) goto invalid;
    *n = (size_t)made;
    return 1;
invalid:
    errno = EILSEQ;
    return 0;
}

size_t iconv(iconv_t cd, char **inbuf, size_t *inbytesleft, char **outbuf, size_t *outbytesleft) {
    if (cd == (iconv_t)-1 || !cd) {
        errno = EBADF;
        return (size_t)-1;
    }
    if (!inbuf || !*inbuf) return 0; /* no shift state to reset or write */
    while (*inbytesleft > 0) {
        WCHAR w[2];
        int wn = 0;
        unsigned char bytes[MAX_OUT];
        size_t out = 0;
        size_t took = decode(&cd->from, (const unsigned char *)*inbuf, *inbytesleft, w, &wn);
        if (!took || !encode(&cd->to, w, wn, bytes, &out)) return (size_t)-1;
        if (out > *outbytesleft) {
            errno = E2BIG;
            return (size_t)-1;
        }
        memcpy(*outbuf, bytes, out);
        *outbuf += out;
        *outbytesleft -= out;
        *inbuf += took;
        *inbytesleft -= took;
    }
    return 0;
}
