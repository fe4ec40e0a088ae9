// The plain matching algorithms, step by step, without any shortcut: the
// oracle the tests and the fuzz target hold the wildcard library to.  It
// is exponential in the number of stars, so callers keep its inputs small.
#pragma once

#include <cstddef>

namespace oracle {

inline int oracle_fold(char ch)
{
    int v = static_cast<signed char>(ch);
    return (v >= 'A' && v <= 'Z') ? v + 0x20 : v;
}

inline int oracle_is_valid(const char *p)
{
    if (p == nullptr) return 0;
    while (*p != '\0') {
        if (*p == '!' || *p == '`') {
            if (p[1] == '\0') return 0;
            p += 2;
        } else if (*p == '[') {
            ++p;
            if (*p == '!') ++p;
            while (*p != ']') {
                if (*p == '`') ++p;
                if (*p == '\0') return 0;
                ++p;
                if (*p == '-') {
                    ++p;
                    if (*p == '`') ++p;
                    if (*p == '\0') return 0;
                    ++p;
                }
                if (*p == '\0') return 0;
            }
            ++p;
        } else {
            ++p;
        }
    }
    return 1;
}

inline int oracle_rest(const char *p, const char *n)
{
    for (;;) {
        if (*p == '\0') return *n == '\0';
        char x = *p++;
        char c = *n;
        switch (x) {
        case '?':
            if (c == '\0') return 0;
            ++n;
            break;
        case '*':
        case '\x1A': {
            std::size_t L = 0;
            while (n[L] != '\0' && (x == '*' || n[L] != '.')) ++L;
            for (std::size_t k = L + 1; k-- > 0;) {
                if (oracle_rest(p, n + k)) return 1;
            }
            return 0;
        }
        case '!':
            if (*p == '\0') return 0;
            return !oracle_rest(p, n);
        case '`': {
            char q = *p;
            if (q == '\0') return 0;
            if (oracle_fold(c) != oracle_fold(q)) return 0;
            ++n;
            ++p;
            break;
        }
        case '[': {
            int sense = 1;
            if (*p == '!') {
                ++p;
                sense = 0;
            }
            int admitted = sense ? 0 : 1;
            while (*p != ']' && *p != '\0') {
                if (*p == '`') ++p;
                if (*p == '\0') break;
                char lo = *p++;
                char hi = lo;
                if (*p == '-') {
                    ++p;
                    if (*p == '`') ++p;
                    if (*p == '\0') break;
                    hi = *p++;
                }
                if (*p == '\0') break;
                if (oracle_fold(lo) <= oracle_fold(c) && oracle_fold(c) <= oracle_fold(hi))
                    admitted = sense;
            }
            if (admitted == 0) return 0;
            if (*p == '\0') return 0;
            if (c == '\0') return 0;
            ++n;
            ++p;
            break;
        }
        default:
            if (oracle_fold(c) != oracle_fold(x)) return 0;
            ++n;
            break;
        }
    }
}

inline int oracle_match(const char *pattern, const char *name)
{
    if (name == nullptr || pattern == nullptr) return 0;
    if (!oracle_is_valid(pattern)) return 0;
    if (*name == '\0') return *pattern == '\0';
    return oracle_rest(pattern, name);
}

inline int oracle_unchecked(const char *pattern, const char *name)
{
    if (name == nullptr || pattern == nullptr) return 0;
    return oracle_rest(pattern, name);
}

}  // namespace oracle
