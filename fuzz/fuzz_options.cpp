// Fuzzes parse_options over argument vectors made from the input: the
// arguments are the NUL-separated pieces, after an argv[0] of "trawl".
// A process end (usage error, -?) arrives as ProcessEnded.  Checked:
// the index returned lies in [1, argc] and stops at a non-option; the
// statuses are 0 or 255; every text in the settings points into the
// argument vector or is the empty text of a value at the very end; an
// earlier date is kept only beside a later one; the details asked for are
// known parts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "test_exit.h"
#include "trawl.h"

namespace {

const std::size_t MAX_ARGUMENTS = 256;

// Standard error as it was before libFuzzer silenced it, for our findings.
int report_fd = 2;

std::vector<std::string> split_arguments(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> arguments{"trawl"};
    std::string current;
    for (std::size_t i = 0; i < size && arguments.size() < MAX_ARGUMENTS; ++i) {
        if (data[i] != 0) {
            current += static_cast<char>(data[i]);
            continue;
        }
        arguments.push_back(current);
        current.clear();
    }
    if (arguments.size() < MAX_ARGUMENTS) arguments.push_back(current);
    return arguments;
}

[[noreturn]] void fail(const char *what, long value)
{
    dprintf(report_fd, "parse_options: %s (%ld)\n", what, value);
    std::abort();
}

bool points_into(const char *text, char **argv, int argc)
{
    for (int i = 0; i < argc; ++i) {
        if (text >= argv[i] && text <= argv[i] + std::strlen(argv[i])) return true;
    }
    return false;
}

void check_text(const char *text, char **argv, int argc)
{
    if (text != nullptr && *text != '\0' && !points_into(text, argv, argc))
        fail("a text does not point into the arguments", 0);
}

void check_settings(char **argv, int argc)
{
    check_text(settings.date_test.text, argv, argc);
    check_text(settings.date_test_prev.text, argv, argc);
    check_text(settings.size_test.text, argv, argc);
    check_text(settings.type_test, argv, argc);
    check_text(settings.option_g_value, argv, argc);
    check_text(settings.option_u_value, argv, argc);
    if (settings.date_test_prev.text != nullptr && settings.date_test.text == nullptr)
        fail("date_test_prev is set without date_test", 0);
    if (settings.details_needed & ~FIND_DATA_ALL)
        fail("details_needed holds an unknown part", settings.details_needed);
}

}  // namespace

// The usage and information texts go to standard error on every bad
// option; libFuzzer's -close_fd_mask=2 silences them while keeping its own
// and the sanitizers' reports.  Our own reports go to a copy of the stream.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    report_fd = dup(2);
    if (report_fd < 0) report_fd = 2;
    static std::vector<char *> extended;
    static char quiet[] = "-close_fd_mask=2";
    extended.assign(*argv, *argv + *argc);
    extended.push_back(quiet);
    extended.push_back(nullptr);
    *argv = extended.data();
    *argc += 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> arguments = split_arguments(data, size);
    std::vector<char *> argv;
    for (std::string &argument : arguments) argv.push_back(&argument[0]);
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);

    settings = Settings{};
    int first;
    try {
        first = parse_options(argc, argv.data());
    } catch (const ProcessEnded &ended) {
        if (ended.status != EXIT_LISTED && ended.status != EXIT_USAGE)
            fail("unexpected exit status", ended.status);
        check_settings(argv.data(), argc);
        return 0;
    }
    if (first < 1 || first > argc) fail("index out of [1, argc]", first);
    if (first < argc && argv[first][0] == '-') fail("stopped at an option", first);
    check_settings(argv.data(), argc);
    return 0;
}
