// Inputs that fuzzing and the work around it found troublesome, kept so
// they stay fixed.  Each case states the result and a time bound: the
// matcher promises about (pattern length) x (name length) steps when one
// of the two is at most 131,071 characters long, whatever the other's.
#include "wildcat.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

namespace {

// Generous enough for a debug build under the sanitizers or Wine; a match
// that keeps to its bound takes milliseconds.
const auto MATCH_TIME_LIMIT = std::chrono::seconds(10);

std::string repeated(const std::string &piece, int times)
{
    std::string text;
    for (int k = 0; k < times; ++k) text += piece;
    return text;
}

// Runs the match on its own thread so that a runaway match fails the test
// instead of hanging the run; such a thread is left behind, detached.
bool match_within_limit(const std::string &pattern, const std::string &name, int *result)
{
    auto done = std::make_shared<std::promise<int>>();
    std::future<int> outcome = done->get_future();
    std::thread([pattern, name, done] {
        done->set_value(pattern_match_unchecked(pattern.c_str(), name.c_str()));
    }).detach();
    if (outcome.wait_for(MATCH_TIME_LIMIT) != std::future_status::ready) return false;
    *result = outcome.get();
    return true;
}

struct TimedCase {
    const char *what;
    std::string pattern;
    std::string name;
    int expected;
};

// Hundreds of star runs joined by "!!" (which consumes no character, so
// every run can be reached at every name position): tried one length of
// each run at a time they took 11 s for 506 runs and a 259-character name,
// about 36 times more with each run more.  "*!!" is the same as "*", so
// the pattern means *a*b.
TEST(FuzzRegressions, ManyStarRunsStayCheap)
{
    const std::string runs = repeated("*!!", 520) + "*a*b";
    const TimedCase cases[] = {
        {"longest name, no b", runs, std::string(259, 'a'), 0},
        {"short name, no b", runs, std::string(100, 'a'), 0},
        {"ends in b", runs, std::string(258, 'a') + "b", 1},
        // Past 131,071 characters the plain loop took every length of every run:
        // the first overflowed the stack, the second took 20 s.
        {"pattern past the table", repeated("*!!", 44000) + "*a*b", std::string(20000, 'a') + "b",
         1},
        {"name past the table", "*a*.c*b", std::string(140000, 'a') + ".cc", 0},
    };
    for (const TimedCase &c : cases) {
        int result = -1;
        ASSERT_TRUE(match_within_limit(c.pattern, c.name, &result))
            << c.what << ": no result within the time limit";
        EXPECT_EQ(result, c.expected) << c.what;
    }
}

}  // namespace
