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
        {"[abc", "a", 0},  // ill-formed: wildcat_match says no
    };
    // clang-format on
    int failures = 0;
    for (const Case &c : cases) {
        int got = wildcat_match(c.pattern, c.name);
        if (got != c.matches) {
            std::printf("wildcat_match(\"%s\", \"%s\") = %d, expected %d\n", c.pattern, c.name, got,
                        c.matches);
            failures++;
        }
    }
    if (wildcat_is_valid("[abc") != 0 || wildcat_is_valid("[abc]") != 1) {
        std::printf("wildcat_is_valid gives wrong results\n");
        failures++;
    }
    std::printf("%d of %zu checks failed\n", failures, sizeof cases / sizeof cases[0] + 1);
    return failures == 0 ? 0 : 1;
}
