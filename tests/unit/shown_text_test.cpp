// Names as a terminal shows them: each control character one '?', every
// other byte as it is.
#include <gtest/gtest.h>

#include <string>

#include "trawl.h"

namespace {

std::string on_terminal(const std::string &text)
{
    std::string shown;
    for (const char *p = text.c_str();;) {
        const size_t span = shown_span(p);
        shown.append(p, span);
        p += span;
        if (*p == '\0') return shown;
        shown += '?';
        p += control_length(p);
    }
}

TEST(ShownText, ControlCharactersBecomeOneQuestionMarkEach)
{
    const struct {
        const char *name;
        const char *text;
        const char *shown;
    } cases[] = {
        {"plain", "report.txt", "report.txt"},
        {"carriage return", "x\rreadme.txt", "x?readme.txt"},
        {"erase line, cursor up", "y\x1b[2K\x1b[1Anotice.txt", "y?[2K?[1Anotice.txt"},
        {"window title", "t\x1b]0;owned\x07.txt", "t?]0;owned?.txt"},
        {"newline and tab", "a\nb\tc", "a?b?c"},
        {"first and last C0, DEL", "\x01\x1f\x7f~ ", "???~ "},
        {"C1 NEL, CSI and APC as UTF-8", "a\xc2\x85\xc2\x9b\xc2\x9f" "b", "a???b"},
        {"no-break space and e acute stay", "\xc2\xa0\xc3\xa9", "\xc2\xa0\xc3\xa9"},
        {"stray CSI byte", "a\x9b" "2Kb", "a?2Kb"},
        {"other stray bytes stay", "\xff\xa0\xc3", "\xff\xa0\xc3"},
        {"euro sign holds 0x82", "\xe2\x82\xac", "\xe2\x82\xac"},
        {"em dash holds 0x80 and 0x94", "\xe2\x80\x94", "\xe2\x80\x94"},
        {"overlong C1 is two stray bytes", "\xc1\x85", "\xc1?"},
        {"LRE and RLO", "\xe2\x80\xaa\xe2\x80\xae", "??"},
        {"RLO reverses txt.exe", "a\xe2\x80\xaetxt.exe", "a?txt.exe"},
        {"isolates LRI to PDI", "\xe2\x81\xa6\xe2\x81\xa9", "??"},
        {"neighbours of the bidi ranges stay", "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",
         "\xe2\x80\xa9\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},
        {"cut-off bidi control", "\xe2\x80", "\xe2?"},
        {"four-byte character", "\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
    };
    for (const auto &c : cases) EXPECT_EQ(on_terminal(c.text), c.shown) << c.name;
}

TEST(ShownText, NotATerminalTakesEveryByte)
{
    FILE *file = tmpfile();
    ASSERT_NE(file, nullptr);
    print_shown(file, "%s: '%s' %c %5s|\n", "trawl", "x\rreadme\xe2\x80\xae\x9b", '\x1b', "ab");
    rewind(file);
    char text[64] = {};
    size_t length = fread(text, 1, sizeof text, file);
    fclose(file);
    // The stream is a text stream: Windows writes CR LF.
    std::string written(text, length);
    if (written.size() >= 2 && written[written.size() - 2] == '\r') written.erase(written.size() - 2, 1);
    EXPECT_EQ(written, "trawl: 'x\rreadme\xe2\x80\xae\x9b' \x1b    ab|\n");
}

}  // namespace
