// Fuzzes parse_size_spec: the count is the number that all the digits of the
// text form together, and the text is rejected exactly when that number is
// above 2^64 - 1, which is judged here on the digit string itself.  A
// rejection must leave the output as it was.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "trawl.h"

namespace {

const char LARGEST[] = "18446744073709551615";
const std::uint64_t UNTOUCHED = 0x5eed5eed5eed5eedu;

// The digits of the text without leading zeros ("" for the number 0).
std::string significant_digits(const std::string &text)
{
    std::string digits;
    for (char c : text) {
        if (c < '0' || c > '9') continue;
        if (digits.empty() && c == '0') continue;
        digits += c;
    }
    return digits;
}

bool fits_64_bits(const std::string &digits)
{
    const std::string largest = LARGEST;
    if (digits.size() != largest.size()) return digits.size() < largest.size();
    return digits <= largest;
}

std::uint64_t value_of(const std::string &digits)
{
    unsigned __int128 value = 0;
    for (char c : digits) value = value * 10 + static_cast<unsigned>(c - '0');
    return static_cast<std::uint64_t>(value);
}

void fail(const std::string &text, int accepted, std::uint64_t count, const char *expected)
{
    std::fprintf(stderr, "parse_size_spec(\"%s\"): returned %d, count %llu; expected %s\n",
                 text.c_str(), accepted, static_cast<unsigned long long>(count), expected);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    text = text.substr(0, text.find('\0'));
    std::uint64_t count = UNTOUCHED;
    const int accepted = parse_size_spec(text.c_str(), &count);
    const std::string digits = significant_digits(text);
    if (!fits_64_bits(digits)) {
        if (accepted != 0 || count != UNTOUCHED)
            fail(text, accepted, count, "rejection, output untouched");
        return 0;
    }
    if (accepted != 1 || count != value_of(digits))
        fail(text, accepted, count, ("1 and " + digits).c_str());
    return 0;
}
