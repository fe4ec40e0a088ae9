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
 * about (pattern length) x (name length) steps and a few hundred bytes of
 * stack; a pattern longer than 255 characters behind its first star run
 * takes up to 48 KiB of stack.  Behind a first star run of more than
 * 131,071 characters the pattern is still matched correctly, by trying
 * every length of every star run.
 *
 * C and C++ callers alike: the names have C linkage. */
#ifndef WILDCAT_H
#define WILDCAT_H

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when the pattern is well-formed; 0 when it is not or is null. */
int wildcat_is_valid(const char *pattern);

/* Validates, then matches.  The empty name matches only the empty pattern. */
int wildcat_match(const char *pattern, const char *name);

/* Matches without validating; an ill-formed part simply fails to match
 * where it stands.  0 for a null pattern or name. */
int wildcat_match_unchecked(const char *pattern, const char *name);

#ifdef __cplusplus
}
#endif

#endif
