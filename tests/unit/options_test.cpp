// The option parser: what it stores, where it stops, and how it ends the
// process on a bad command line.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "command_test_support.h"
#include "test_exit.h"
#include "trawl.h"

namespace {

// An argument vector whose texts live as long as the record, ended by the
// null pointer the parser may rely on.
struct Args {
    std::vector<std::vector<char>> texts;
    std::vector<char *> argv;
};

Args make_args(std::initializer_list<const char *> list)
{
    Args args;
    for (const char *text : list) args.texts.emplace_back(text, text + strlen(text) + 1);
    for (std::vector<char> &text : args.texts) args.argv.push_back(text.data());
    args.argv.push_back(nullptr);
    return args;
}

int argc_of(const Args &args)
{
    return (int)args.argv.size() - 1;
}

int parse(Args &args)
{
    return parse_options(argc_of(args), args.argv.data());
}

struct Ending {
    int status;  // -1 when the parser returned
    std::string error_text;
};

Ending parse_until_end(Args &args)
{
    Ending ending = {-1, ""};
    testing::internal::CaptureStderr();
    try {
        parse(args);
    } catch (const ProcessEnded &ended) {
        ending.status = ended.status;
    }
    ending.error_text = without_cr(testing::internal::GetCapturedStderr());
    return ending;
}

std::string flags_set()
{
    std::string letters;
    if (settings.show_all) letters += 'a';
    if (settings.show_all_but_dots) letters += 'A';
    if (settings.option_D) letters += 'D';
    if (settings.long_listing) letters += 'l';
    if (settings.short_names) letters += 'm';
    if (settings.show_summary) letters += 'n';
    if (settings.no_recursion) letters += 'r';
    if (settings.verbose) letters += 'v';
    return letters;
}

bool starts_with(const std::string &text, const std::string &start)
{
    return text.compare(0, start.size(), start) == 0;
}

const char USAGE_BANNER[] = "[trawl, ";
const char USAGE_LINE[] = "usage:  trawl [option...] [path\\]file...\n\n";
const char LAST_USAGE_LINE[] = "Date 'D' is of the form \"[YY]YY[-MM[-DD]][:HH[:MM[:SS]]]\".\n";

struct FlagRow {
    std::initializer_list<const char *> args;
    int index;
    const char *flags;
};

TEST(Options, FlagsAndWhereScanningStops)
{
    reset_globals();
    const FlagRow rows[] = {
        {{"trawl"}, 1, ""},
        {{"trawl", "*.c"}, 1, ""},
        {{"trawl", "-l", "-r", "*.c"}, 3, "lr"},
        {{"trawl", "-lr", "*.c"}, 2, "lr"},
        {{"trawl", "-aADlmnrv", "x"}, 2, "aADlmnrv"},
        {{"trawl", "-A", "x"}, 2, "A"},
        {{"trawl", "-D", "-l", "x"}, 3, "Dl"},
        {{"trawl", "-ll", "-l", "x"}, 3, "l"},
        {{"trawl", "-l", "-", "-r", "x"}, 4, "lr"},
        {{"trawl", "-"}, 2, ""},
        {{"trawl", "*.c", "-l"}, 1, ""},
        {{"trawl", "", "-l"}, 1, ""},
        {{"trawl", "-v", "", "-l"}, 2, "v"},
        {{"trawl", "-n"}, 2, "n"},
    };
    for (const FlagRow &row : rows) {
        reset_globals();
        Args args = make_args(row.args);
        EXPECT_EQ(parse(args), row.index) << args.argv[argc_of(args) - 1];
        EXPECT_EQ(flags_set(), row.flags) << args.argv[argc_of(args) - 1];
    }
}

TEST(Options, ValueIsTheRestOfTheArgumentInPlace)
{
    reset_globals();
    Args args = make_args({"trawl", "-tdl", "x"});
    EXPECT_EQ(parse(args), 2);
    EXPECT_EQ(settings.type_test, args.argv[1] + 2);
    EXPECT_STREQ(settings.type_test, "dl");
    EXPECT_EQ(settings.long_listing, 0);
}

TEST(Options, ValueIsTheWholeNextArgumentInPlace)
{
    reset_globals();
    Args args = make_args({"trawl", "-t", "-?", "-g", "-l", "-u", "", "x"});
    EXPECT_EQ(parse(args), 7);
    EXPECT_EQ(settings.type_test, args.argv[2]);
    EXPECT_EQ(settings.option_g_value, args.argv[4]);
    EXPECT_EQ(settings.option_u_value, args.argv[6]);
    EXPECT_EQ(settings.long_listing, 0);
}

TEST(Options, ValueOptionAtTheEndGetsThePresentEmptyText)
{
    reset_globals();
    Args args = make_args({"trawl", "-l", "-t"});
    EXPECT_EQ(parse(args), argc_of(args));
    ASSERT_NE(settings.type_test, nullptr);
    EXPECT_STREQ(settings.type_test, "");
    EXPECT_EQ(settings.long_listing, 1);
}

TEST(Options, SizeValueMayBeginWithAMinus)
{
    reset_globals();
    Args args = make_args({"trawl", "-s", "-100", "x"});
    EXPECT_EQ(parse(args), 3);
    EXPECT_EQ(settings.size_test.text, args.argv[2]);
    EXPECT_EQ(settings.size_test.bytes, 100u);
}

TEST(Options, LettersAfterSizeAreItsValue)
{
    reset_globals();
    Args args = make_args({"trawl", "-sl", "x"});
    EXPECT_EQ(parse(args), 2);
    EXPECT_EQ(settings.size_test.text, args.argv[1] + 2);
    EXPECT_EQ(settings.size_test.bytes, 0u);
    EXPECT_EQ(settings.long_listing, 0);
}

TEST(Options, LaterSizeReplacesEarlier)
{
    reset_globals();
    Args args = make_args({"trawl", "-s5", "-s+7", "x"});
    EXPECT_EQ(parse(args), 3);
    EXPECT_EQ(settings.size_test.text, args.argv[2] + 2);
    EXPECT_EQ(settings.size_test.bytes, 7u);
}

TEST(Options, FlagGroupMayEndInADateOption)
{
    reset_globals();
    Args args = make_args({"trawl", "-ld", "2011-06-15", "x"});
    EXPECT_EQ(parse(args), 3);
    EXPECT_EQ(settings.long_listing, 1);
    EXPECT_EQ(settings.date_test.text, args.argv[2]);
    EXPECT_EQ(settings.date_test.time.dwHighDateTime, (DWORD)(129525696000000000ULL >> 32));
    EXPECT_EQ(settings.date_test.time.dwLowDateTime, (DWORD)129525696000000000ULL);
    EXPECT_EQ(settings.date_test_prev.text, nullptr);
}

TEST(Options, GAndUSwallowThePattern)
{
    for (const char *option : {"-g", "-u"}) {
        reset_globals();
        Args args = make_args({"trawl", option, "*.c"});
        EXPECT_EQ(parse(args), argc_of(args)) << option;
        const char *stored = option[1] == 'g' ? settings.option_g_value : settings.option_u_value;
        EXPECT_EQ(stored, args.argv[2]) << option;
    }
}

// date_test holds the last -d; date_test_prev the first, once there are two.
TEST(Options, FirstAndLastDateApply)
{
    reset_globals();
    Args one = make_args({"trawl", "-d1999", "x"});
    EXPECT_EQ(parse(one), 2);
    EXPECT_EQ(settings.date_test.text, one.argv[1] + 2);
    EXPECT_EQ(settings.date_test_prev.text, nullptr);

    reset_globals();
    Args two = make_args({"trawl", "-d1999", "-d", "+2005", "x"});
    EXPECT_EQ(parse(two), 4);
    EXPECT_EQ(settings.date_test_prev.text, two.argv[1] + 2);
    EXPECT_EQ(settings.date_test.text, two.argv[3]);
    FILETIME y1999 = {}, y2005 = {};
    ASSERT_EQ(parse_date_spec("1999", &y1999), 1);
    ASSERT_EQ(parse_date_spec("2005", &y2005), 1);
    EXPECT_EQ(compare_filetimes(settings.date_test_prev.time, y1999), 0);
    EXPECT_EQ(compare_filetimes(settings.date_test.time, y2005), 0);

    reset_globals();
    Args three = make_args({"trawl", "-d1999", "-d2002", "-d-2005", "x"});
    EXPECT_EQ(parse(three), 4);
    EXPECT_EQ(settings.date_test_prev.text, three.argv[1] + 2);
    EXPECT_EQ(settings.date_test.text, three.argv[3] + 2);
    EXPECT_EQ(compare_filetimes(settings.date_test_prev.time, y1999), 0);
    EXPECT_EQ(compare_filetimes(settings.date_test.time, y2005), 0);
}

// The parts of an entry's record the walk must read for the options given.
TEST(Options, EachOptionAsksForTheDetailsItReads)
{
    const struct {
        std::initializer_list<const char *> args;
        int details;
    } rows[] = {
        {{"trawl", "-aADmrv", "-g", "g", "-u", "u", "x"}, 0},
        {{"trawl", "-d2000", "x"}, FIND_DATA_INODE},
        {{"trawl", "-d2000", "-d2001", "-d2002", "x"}, FIND_DATA_INODE},
        {{"trawl", "-s+5", "x"}, FIND_DATA_INODE},
        {{"trawl", "-l", "x"}, FIND_DATA_ALL},
        {{"trawl", "-n", "x"}, FIND_DATA_ALL},
        {{"trawl", "-th", "x"}, FIND_DATA_ALL},
        {{"trawl", "-t", "", "x"}, FIND_DATA_ALL},
        {{"trawl", "-s5", "-tr", "x"}, FIND_DATA_ALL},
        {{"trawl", "-ld2000", "x"}, FIND_DATA_ALL},
    };
    for (const auto &row : rows) {
        reset_globals();
        Args args = make_args(row.args);
        EXPECT_EQ(parse(args), argc_of(args) - 1) << args.argv[1];
        EXPECT_EQ(settings.details_needed, row.details) << args.argv[1];
    }
}

struct UsageRow {
    std::initializer_list<const char *> args;
    const char *diagnostic;
};

TEST(Options, BadCommandLinesGiveDiagnosticThenUsage)
{
    reset_globals();
    const UsageRow rows[] = {
        {{"trawl", "--"}, "trawl: bad option '--'\n\n"},
        {{"trawl", "-x", "-?"}, "trawl: bad option '-x'\n\n"},
        {{"trawl", "-l1", "x"}, "trawl: bad option '-1'\n\n"},
        {{"trawl", "-L"}, "trawl: bad option '-L'\n\n"},
        {{"trawl", "-d"}, "trawl: improper date specification ''\n\n"},
        {{"trawl", "-d", "today", "x"}, "trawl: improper date specification 'today'\n\n"},
        {{"trawl", "-d+2011-04-31", "x"}, "trawl: improper date specification '+2011-04-31'\n\n"},
        {{"trawl", "-d2000", "-d1600", "x"}, "trawl: improper date specification '1600'\n\n"},
        {{"trawl", "-s!18446744073709551616", "x"},
         "trawl: improper size specification '!18446744073709551616'\n\n"},
    };
    for (const UsageRow &row : rows) {
        reset_globals();
        Args args = make_args(row.args);
        Ending ending = parse_until_end(args);
        EXPECT_EQ(ending.status, EXIT_USAGE) << row.diagnostic;
        EXPECT_TRUE(starts_with(ending.error_text, std::string(row.diagnostic) + USAGE_BANNER))
            << ending.error_text;
        EXPECT_NE(ending.error_text.find(USAGE_LINE), std::string::npos) << row.diagnostic;
        const std::string last = LAST_USAGE_LINE;
        ASSERT_GE(ending.error_text.size(), last.size());
        EXPECT_EQ(ending.error_text.substr(ending.error_text.size() - last.size()), last);
    }
}

TEST(Options, QuestionMarkShowsInformationAndIgnoresTheRest)
{
    reset_globals();
    Args args = make_args({"trawl", "-l?x", "-x", "*.c"});
    Ending ending = parse_until_end(args);
    EXPECT_EQ(ending.status, EXIT_LISTED);
    EXPECT_TRUE(starts_with(ending.error_text, USAGE_BANNER)) << ending.error_text;
    EXPECT_EQ(ending.error_text.find("bad option"), std::string::npos);
    EXPECT_EQ(ending.error_text.find("usage:"), std::string::npos);
}

TEST(Options, NothingLeftToSearchShowsUsage)
{
    reset_globals();
    Args args = make_args({"trawl", "-g", "*.c"});
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int status = -1;
    try {
        run_trawl(argc_of(args), args.argv.data());
    } catch (const ProcessEnded &ended) {
        status = ended.status;
    }
    std::string error_text = without_cr(testing::internal::GetCapturedStderr());
    std::string output_text = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, EXIT_USAGE);
    EXPECT_TRUE(starts_with(error_text, USAGE_BANNER)) << error_text;
    EXPECT_EQ(output_text, "");
}

}  // namespace
