// Checks a few patterns through the installed library; exit status 0 when
// every result is the expected one.
#include <wildcat.h>

#include <cstdio>

int main()
{
    struct Case {
        const char *pattern;
        const char *name;
        int matches;
    };
    // clang-format off
    static const Case cases[] = {
        {"*.c", "main.c", 1},
        {"*.c", "MAIN.C", 1},
        {"*.c", "main.cc", 0},
        {"*.*", "README", 0},
        {"[a-c]x", "Bx", 1},
        {"!*.c", "main.h", 1},
        {"!*.c", "main.c", 0},
        {"[abc", "a", 0},  // ill-formed: pattern_match says no
    };
    // clang-format on
    int failures = 0;
    for (const Case &c : cases) {
        int got = pattern_match(c.pattern, c.name);
        if (got != c.matches) {
            std::printf("pattern_match(\"%s\", \"%s\") = %d, expected %d\n", c.pattern, c.name, got,
                        c.matches);
            failures++;
        }
    }
    if (pattern_is_valid("[abc") != 0 || pattern_is_valid("[abc]") != 1) {
        std::printf("pattern_is_valid gives wrong results\n");
        failures++;
    }
    // Unchecked, the star takes the empty name that pattern_match turns away.
    if (pattern_match_unchecked("*", "") != 1 || pattern_match_unchecked("[abc", "a") != 0) {
        std::printf("pattern_match_unchecked gives wrong results\n");
        failures++;
    }
    std::printf("%d of %zu checks failed\n", failures, sizeof cases / sizeof cases[0] + 2);
    return failures == 0 ? 0 : 1;
}
