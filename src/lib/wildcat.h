// wildcat: wildcard patterns for single file names.
//
// The language: '?' one character, '*' any run of characters, 0x1A any run
// that stops before the first '.', '[...]' a set ('!' first negates it,
// ranges x-y, the grave accent quotes), '!' negates the rest of the pattern,
// the grave accent makes the next character ordinary.  ASCII letters match
// regardless of case; no other byte is folded.
//
// Every function returns exactly 1 or 0, allocates nothing and keeps no
// state, so any number of calls may run at once.  Matching costs at most
// about (pattern length) x (name length) steps for names of up to 259
// characters and patterns with up to 500 star runs: a pattern with two or
// more star runs that can backtrack uses a memo of about 32 KiB on the
// stack; any other pattern uses none.  Longer inputs are still matched
// correctly, by the plain recursion for what the memo cannot hold.
#pragma once

// 1 when the pattern is well-formed; 0 when it is not or is null.
int pattern_is_valid(const char *pattern);

// Validates, then matches.  The empty name matches only the empty pattern.
int pattern_match(const char *pattern, const char *name);

// Matches without validating; an ill-formed part simply fails to match
// where it stands.  0 for a null pattern or name.
int pattern_match_unchecked(const char *pattern, const char *name);
