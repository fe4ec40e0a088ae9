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
        wildcat_compiled compiled;
        wildcat_compile(cases[i].pattern, &compiled);
        int direct = wildcat_match(cases[i].pattern, cases[i].name);
        int precompiled = wildcat_match_compiled(&compiled, cases[i].name);
        if (direct != cases[i].matches || precompiled != cases[i].matches) {
            printf("\"%s\" against \"%s\": %d and %d, expected %d\n", cases[i].pattern, cases[i].name, direct,
                   precompiled, cases[i].matches);
            failures++;
        }
    }
    printf("%d of %zu checks failed\n", failures, count);
    return failures == 0 ? 0 : 1;
}
