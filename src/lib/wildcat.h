/* wildcat: wildcard patterns for single file names.
 *
 * The language: '?' one character, '*' any run of characters, 0x1A any run
 * that stops before the first '.', '[...]' a set ('!' first negates it,
 * ranges x-y, the grave accent quotes), '!' negates the rest of the pattern,
 * the grave accent makes the next character ordinary.  ASCII letters match
 * regardless of case; no other byte is folded.
 *
 * Every function returns exactly 1 or 0, allocates nothing and keeps no
 * state, so any number of calls may run at once.  Matching costs at most
 * about (pattern length) x (name length) steps, plus a rescan of the
 * pattern per 131,072 characters of it, and, for patterns with several
 * star runs, a table on the stack sized to the pattern and the name: under
 * 100 bytes up to 255 characters, 64 KiB at most.  One of the two may be
 * of any length.  When the pattern from its first star run on and the name
 * from where that run starts are both longer than 131,071 characters, and
 * more than one star run there can backtrack, every function returns 0.
 *
 * C and C++ callers alike: the names have C linkage. */
#ifndef WILDCAT_H
#define WILDCAT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when the pattern is well-formed; 0 when it is not or is null. */
int pattern_is_valid(const char *pattern);

/* Validates, then matches.  The empty name matches only the empty pattern. */
int pattern_match(const char *pattern, const char *name);

/* Matches without validating; an ill-formed part simply fails to match
 * where it stands.  0 for a null pattern or name. */
int pattern_match_unchecked(const char *pattern, const char *name);

/* A pattern analysed once for matching many names.  The caller provides
 * the storage; the members are the library's own, for no caller to read or
 * set.  The object refers to the caller's pattern, which must stay unchanged
 * while the object is used. */
typedef struct pattern_compiled {
    const char *private_pattern;
    size_t private_count;
    unsigned char private_flags;
} pattern_compiled;

/* Validates the pattern and analyses it into *compiled: 1 when it is
 * well-formed, else 0, and the object then matches no name. */
int pattern_compile(const char *pattern, pattern_compiled *compiled);

/* The same result as pattern_match(pattern, name) for the compiled pattern. */
int pattern_match_compiled(const pattern_compiled *compiled, const char *name);

#ifdef __cplusplus
}
#endif

#endif
