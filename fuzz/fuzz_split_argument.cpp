// Fuzzes the split of an argument into drive, directory part and pattern,
// and the path prefix shown in entry lines, on arbitrary texts, long ones
// included.  An input that starts with the byte 0x01 is a recipe for a long
// text: two bytes of repeat count, then the piece to repeat (up to 20,000
// bytes in all), which reaches the 8,192-byte limit of the directory part.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "trawl.h"

namespace {

const std::size_t LONGEST_ARGUMENT = 20000;

std::string argument_from(const std::uint8_t *data, std::size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    if (size >= 3 && data[0] == 0x01) {
        const std::size_t repeats = data[1] * 256u + data[2];
        const std::string piece = text.substr(3);
        text.clear();
        for (std::size_t k = 0; k < repeats && text.size() + piece.size() <= LONGEST_ARGUMENT; ++k)
            text += piece;
    }
    return text.substr(0, text.find('\0'));
}

[[noreturn]] void fail(const char *what, const std::string &argument)
{
    std::fprintf(stderr, "%s; argument (%zu bytes): %.200s\n", what, argument.size(),
                 argument.c_str());
    std::abort();
}

std::string with_backslashes(std::string text)
{
    for (char &c : text) {
        if (c == '/') c = '\\';
    }
    return text;
}

// The directory part, drive and pattern as the argument determines them.
void check_split(const std::string &argument, const SplitArgument &split, int fitted)
{
    const char *text = argument.c_str();
    const std::size_t drive_length = (text[0] != '\0' && text[1] == ':') ? 2 : 0;
    if (std::strcmp(split.drive, argument.substr(0, drive_length).c_str()) != 0)
        fail("wrong drive", argument);
    const std::string rest = argument.substr(drive_length);
    const std::size_t separator = rest.find_last_of("\\/");
    const std::size_t pattern_at =
        drive_length + (separator == std::string::npos ? 0 : separator + 1);
    if (split.pattern != text + pattern_at)
        fail("pattern does not start behind the last separator", argument);

    const std::string directory = separator == std::string::npos ? std::string(".")
                                  : separator == 0               ? std::string("\\")
                                                   : with_backslashes(rest.substr(0, separator));
    if (directory.size() > DIRECTORY_PART_MAX) {
        if (fitted) fail("a directory part beyond the buffer was accepted", argument);
        return;
    }
    if (!fitted) fail("a directory part that fits was refused", argument);
    if (directory != split.directory) fail("wrong directory part", argument);
    const bool root = separator == 0;
    if (root ? std::strcmp(split.shown_directory, "") != 0
             : split.shown_directory != split.directory)
        fail("wrong shown directory", argument);
}

// The prefix is a tail of the shown text, without a leading ".\" or a
// lone ".", and the separator is "\" unless the prefix came from ".".
void check_prefix(const char *shown, const std::string &argument)
{
    const char *directory = nullptr;
    const char *separator = nullptr;
    shown_path_prefix(shown, &directory, &separator);
    const std::size_t length = std::strlen(shown);
    const bool tail = directory >= shown && directory <= shown + length;
    if (!tail && *directory != '\0') fail("prefix is not a tail of the shown directory", argument);
    if (std::strcmp(separator, "\\") != 0 && std::strcmp(separator, "") != 0)
        fail("odd separator", argument);
    if (std::strcmp(directory, ".") == 0 || std::strncmp(directory, ".\\", 2) == 0)
        fail("prefix keeps a leading . or .\\", argument);
    if (*separator == '\0' && *directory != '\0') fail("no separator after a directory", argument);
    if (*shown != '\0' && *shown != '\\' &&
        (*directory == '\\' || (*directory == '\0' && *separator != '\0')))
        fail("a path below the searched directory looks rooted", argument);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string argument = argument_from(data, size);
    SplitArgument *split = new SplitArgument;
    std::memset(split, 0x5a, sizeof *split);
    const int fitted = split_argument(argument.c_str(), split);
    if (fitted != 0 && fitted != 1) fail("split_argument returned neither 0 nor 1", argument);
    check_split(argument, *split, fitted);
    if (fitted) check_prefix(split->shown_directory, argument);
    check_prefix(argument.c_str(), argument);
    delete split;
    return 0;
}
