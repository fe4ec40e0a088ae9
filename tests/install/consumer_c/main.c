/* A C program of someone else's that builds against the installed wildcard
 * library through pkg-config; exit status 0 when every result is right. */
#include <stdio.h>
#include <wildcat.h>

int main(void)
{
    static const struct {
        const char *pattern;
        const char *name;
        int matches;
    } cases[] = {
        {"*.c", "main.c", 1},
        {"*.c", "main.cc", 0},
        {"*a*b*c", "xaybzc", 1},
        {"!*.c", "main.h", 1},
        {"[abc", "a", 0},
    };
    const size_t count = sizeof cases / sizeof cases[0];
    int failures = 0;
    for (size_t i = 0; i < count; i++) {
        pattern_compiled compiled;
        pattern_compile(cases[i].pattern, &compiled);
        int direct = pattern_match(cases[i].pattern, cases[i].name);
        int precompiled = pattern_match_compiled(&compiled, cases[i].name);
        if (direct != cases[i].matches || precompiled != cases[i].matches) {
            printf("\"%s\" against \"%s\": %d and %d, expected %d\n", cases[i].pattern, cases[i].name, direct,
                   precompiled, cases[i].matches);
            failures++;
        }
    }
    if (pattern_is_valid("[abc") != 0 || pattern_match_unchecked("*", "") != 1) {
        printf("pattern_is_valid or pattern_match_unchecked gives a wrong result\n");
        failures++;
    }
    printf("%d of %zu checks failed\n", failures, count + 1);
    return failures == 0 ? 0 : 1;
}
