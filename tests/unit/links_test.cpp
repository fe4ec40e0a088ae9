// The directories remembered for one argument's walk through links: each
// is new once, and past the limit a new one is refused while those already
// remembered stay known.
#include <gtest/gtest.h>

#include "trawl.h"

namespace {

struct OfferRow {
    uint64_t volume, index;
    LinkTarget expected;
};

TEST(RememberLinkTarget, EachDirectoryOnceAndNoneBeyondTheLimit)
{
    const size_t limit = 3;
    const OfferRow rows[] = {
        {1, 10, LINK_TARGET_NEW},         // the first directory
        {1, 10, LINK_TARGET_SEEN},        // a second link to it
        {2, 10, LINK_TARGET_NEW},         // the same index on another volume
        {1, 11, LINK_TARGET_NEW},         // the third: the set is full
        {1, 12, LINK_TARGET_OVER_LIMIT},  // a fourth is refused
        {1, 12, LINK_TARGET_OVER_LIMIT},  // and not remembered
        {2, 10, LINK_TARGET_SEEN},        // the full set still knows its own
        {1, 11, LINK_TARGET_SEEN},
    };
    forget_link_targets();
    for (const OfferRow &row : rows) {
        DirectoryIdentity identity = {row.volume, row.index};
        EXPECT_EQ(remember_link_target(&identity, limit), row.expected)
            << "volume " << row.volume << " index " << row.index;
    }
    // The next argument starts with nothing remembered.
    forget_link_targets();
    DirectoryIdentity first = {1, 10}, refused = {1, 12};
    EXPECT_EQ(remember_link_target(&first, limit), LINK_TARGET_NEW);
    EXPECT_EQ(remember_link_target(&refused, limit), LINK_TARGET_NEW);
    forget_link_targets();
}

// Far more directories than a fixed table of 32,768 slots would hold,
// all told apart, with identities that differ in either half alone.
TEST(RememberLinkTarget, GrowsWithTheDirectoriesOffered)
{
    const uint64_t count = 100000;
    forget_link_targets();
    for (uint64_t i = 0; i < count; i++) {
        DirectoryIdentity by_index = {7, i}, by_volume = {i + 8, 0};
        ASSERT_EQ(remember_link_target(&by_index, LINK_TARGETS_MAX), LINK_TARGET_NEW) << i;
        ASSERT_EQ(remember_link_target(&by_volume, LINK_TARGETS_MAX), LINK_TARGET_NEW) << i;
    }
    for (uint64_t i = 0; i < count; i++) {
        DirectoryIdentity by_index = {7, i};
        ASSERT_EQ(remember_link_target(&by_index, LINK_TARGETS_MAX), LINK_TARGET_SEEN) << i;
    }
    forget_link_targets();
}

}  // namespace
