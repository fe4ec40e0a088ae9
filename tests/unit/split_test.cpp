// How an argument splits into drive, directory and pattern, and how the
// directory is shown in front of an entry's name.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "trawl.h"

namespace {

struct SplitRow {
    const char *argument;
    const char *drive;
    const char *directory;
    const char *shown;
    size_t pattern_offset;  // the pattern is the argument from here on
};

TEST(SplitArgument, DriveDirectoryAndPattern)
{
    const SplitRow rows[] = {
        {"*.c", "", ".", ".", 0},
        {"src\\*.h", "", "src", "src", 4},
        {"C:\\x\\*.txt", "C:", "\\x", "\\x", 5},
        {"..\\y\\a?c", "", "..\\y", "..\\y", 5},
        {"/tmp/*.log", "", "\\tmp", "\\tmp", 5},
        {"\\*.sys", "", "\\", "", 1},
        {"C:\\*.c", "C:", "\\", "", 3},
        {"C:/", "C:", "\\", "", 3},
        {"C:*.c", "C:", ".", ".", 2},
        {".\\*.c", "", ".", ".", 2},
        {"./x/*.c", "", ".\\x", ".\\x", 4},
        {"a/b\\c/*.txt", "", "a\\b\\c", "a\\b\\c", 6},
        {"a\\b/c", "", "a\\b", "a\\b", 4},
        {"a/b\\c", "", "a\\b", "a\\b", 4},
        {"\\\\srv\\sh\\*.c", "", "\\\\srv\\sh", "\\\\srv\\sh", 9},
        {"C:", "C:", ".", ".", 2},
        {"src\\", "", "src", "src", 4},
        {".\\.\\*.c", "", ".\\.", ".\\.", 4},
        {"7:x", "7:", ".", ".", 2},
        {":x", "", ".", ".", 0},
        {"", "", ".", ".", 0},
    };
    for (const SplitRow &row : rows) {
        SplitArgument split;
        ASSERT_EQ(split_argument(row.argument, &split), 1) << row.argument;
        EXPECT_STREQ(split.drive, row.drive) << row.argument;
        EXPECT_STREQ(split.directory, row.directory) << row.argument;
        EXPECT_STREQ(split.shown_directory, row.shown) << row.argument;
        EXPECT_EQ(split.pattern, row.argument + row.pattern_offset) << row.argument;
    }
}

struct ShownRow {
    const char *shown_directory;
    const char *directory;
    const char *separator;
};

TEST(ShownPathPrefix, CurrentDirectoryIsLeftOut)
{
    const ShownRow rows[] = {
        {".", "", ""},
        {"", "", "\\"},
        {".\\sub", "sub", "\\"},
        {".\\.", "", ""},
        {".\\.\\.", "", ""},
        {".\\", "", ""},
        {".\\\\sub", "sub", "\\"},
        {".\\.\\\\", "", ""},
        {".\\.\\sub\\deep", "sub\\deep", "\\"},
        {".\\..\\y", "..\\y", "\\"},
        {"src", "src", "\\"},
        {"..", "..", "\\"},
        {"..\\y", "..\\y", "\\"},
        {".x", ".x", "\\"},
        {"a\\.\\b", "a\\.\\b", "\\"},
        {"\\\\srv\\sh", "\\\\srv\\sh", "\\"},
    };
    for (const ShownRow &row : rows) {
        const char *directory = nullptr, *separator = nullptr;
        shown_path_prefix(row.shown_directory, &directory, &separator);
        ASSERT_NE(directory, nullptr) << row.shown_directory;
        ASSERT_NE(separator, nullptr) << row.shown_directory;
        EXPECT_STREQ(directory, row.directory) << row.shown_directory;
        EXPECT_STREQ(separator, row.separator) << row.shown_directory;
    }
}

// The whole path of an entry line, from the argument to the printed text.
std::string line_for(const char *argument, const char *name)
{
    SplitArgument split;
    if (!split_argument(argument, &split)) return "<did not split>";
    const char *directory, *separator;
    shown_path_prefix(split.shown_directory, &directory, &separator);
    return std::string(split.drive) + directory + separator + name;
}

TEST(ShownPathPrefix, LinesOfAMatchInTheSearchedDirectoryAndBelow)
{
    const struct {
        const char *argument;
        const char *line;
    } rows[] = {
        {"*.c", "a.c"},
        {".\\sub\\*.c", "sub\\a.c"},
        {".\\sub\\deep\\*.c", "sub\\deep\\a.c"},
        {"src\\*.h", "src\\a.c"},
        {"C:\\x\\*.txt", "C:\\x\\a.c"},
        {"..\\y\\a?c", "..\\y\\a.c"},
        {"/tmp/*.log", "\\tmp\\a.c"},
        {"\\*.sys", "\\a.c"},
        {"C:\\*.c", "C:\\a.c"},
        {"C:*.c", "C:a.c"},
        {"C:.\\sub\\*.c", "C:sub\\a.c"},
        {".\\*.c", "a.c"},
        {".\\.\\*.c", "a.c"},
        {".//*.c", "a.c"},
        {".\\\\sub\\*.c", "sub\\a.c"},
        {"./x/*.c", "x\\a.c"},
        {"a/b\\c/*.txt", "a\\b\\c\\a.c"},
        {"\\\\srv\\sh\\*.c", "\\\\srv\\sh\\a.c"},
    };
    for (const auto &row : rows) EXPECT_EQ(line_for(row.argument, "a.c"), row.line) << row.argument;
}

TEST(SplitArgument, DirectoryPartUpToItsBufferFits)
{
    const std::string directory(DIRECTORY_PART_MAX, 'd');
    const std::string argument = directory + "\\*.c";
    std::unique_ptr<SplitArgument> split(new SplitArgument);
    ASSERT_EQ(split_argument(argument.c_str(), split.get()), 1);
    EXPECT_EQ(std::string(split->directory), directory);
    EXPECT_STREQ(split->pattern, "*.c");
}

TEST(SplitArgument, LongerDirectoryPartIsRefused)
{
    // On the heap, so that a write past the record lands in a guarded zone
    // under the address sanitizer.
    const size_t lengths[] = {DIRECTORY_PART_MAX + 1, DIRECTORY_PART_MAX + 100,
                              4 * DIRECTORY_PART_MAX};
    for (size_t length : lengths) {
        std::string argument = "C:" + std::string(length, 'd') + "/*.c";
        argument[10] = '/';
        std::unique_ptr<SplitArgument> split(new SplitArgument);
        EXPECT_EQ(split_argument(argument.c_str(), split.get()), 0) << length;
    }
}

}  // namespace
