// The hand-offs between the search and the read-ahead helper, driven one at
// a time: the helper is parked inside an entry or before a directory, and
// the search lends, takes back, takes details and adopts meanwhile.
#include "posix_readahead.h"
#include "platform.h"
#include "trawl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <time.h>
#include <unistd.h>

namespace {

std::atomic<const Listing *> park_in;
std::atomic<int> parked, released;

void park(const Listing *listing, size_t, const char *)
{
    if (listing == nullptr || listing != park_in.load()) return;
    parked = 1;
    while (!released) sched_yield();
}

// Whether done() came true within five seconds.
template <typename Done> bool within_seconds(Done done)
{
    for (int i = 0; i < 5000 && !done(); i++) usleep(1000);
    return done();
}

int descends_into_directories(const WIN32_FIND_DATAA *entry)
{
    return (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !is_dot_entry(entry->cFileName);
}

class ReadaheadHandoff : public ::testing::Test {
protected:
    void SetUp() override
    {
        cpu_set_t set;
        if (sched_getaffinity(0, sizeof set, &set) != 0 || CPU_COUNT(&set) < 2)
            GTEST_SKIP() << "one CPU: no helper";
        char pattern[] = "/tmp/trawl-readahead-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        readahead_may_step_back = 0;
        readahead_start();
        ASSERT_TRUE(readahead_running());
        parked = released = 0;
        readahead_test_pause = park;
    }

    void TearDown() override
    {
        released = 1;
        readahead_test_pause = nullptr;
        park_in = nullptr;
        readahead_want_details(0);
        readahead_forget(0, nullptr);
        if (!root.empty()) system(("rm -rf '" + root + "'").c_str());
    }

    // A directory of files of sizes 0, 1, 2, ...
    std::string make_directory(const std::string &name, int files)
    {
        std::string directory = root + "/" + name;
        mkdir(directory.c_str(), 0755);
        for (int i = 0; i < files; i++) {
            FILE *file = fopen((directory + "/f" + std::to_string(i)).c_str(), "w");
            for (int k = 0; k < i; k++) fputc('x', file);
            fclose(file);
        }
        return directory;
    }

    // Opens the listing and lends it with the helper parked in its last entry.
    void lend_parked(Listing *listing, const std::string &directory)
    {
        ASSERT_TRUE(listing_open(listing, directory.c_str()));
        listing_index(listing);
        readahead_want_details(FIND_DATA_INODE);
        park_in = listing;
        readahead_lend(listing);
        ASSERT_TRUE(within_seconds([] { return parked.load() == 1; })) << "the helper never came";
    }

    std::string root;
};

Listing first, second;

}  // namespace

TEST_F(ReadaheadHandoff, TakingALoanBackWaitsForTheEntryBeingRead)
{
    lend_parked(&first, make_directory("a", 20));
    std::atomic<int> taken_back{0};
    std::thread search([&] {
        readahead_take_back(&first);
        taken_back = 1;
    });
    usleep(20000);
    EXPECT_EQ(taken_back.load(), 0) << "taken back while the helper read an entry";
    released = 1;
    search.join();
    // The entry was read whole, through the descriptor still open.
    const EntrySlot &last = first.slots[first.count - 1];
    EXPECT_EQ(last.claim.load(), CLAIM_HELPER_DONE);
    struct stat st;
    const char *name = first.buffer + first.name_offsets[first.count - 1];
    ASSERT_EQ(fstatat(first.fd, name, &st, 0), 0);
    EXPECT_TRUE(last.readable);
    EXPECT_EQ(last.details.size, (uint64_t)st.st_size);
    close(first.fd);
}

// Two enumerations may be in their first pass at once: lending the second
// takes the first back before anything of the second is read.
TEST_F(ReadaheadHandoff, ASecondLoanTakesTheFirstBack)
{
    lend_parked(&first, make_directory("a", 20));
    ASSERT_TRUE(listing_open(&second, make_directory("b", 20).c_str()));
    listing_index(&second);
    std::atomic<int> lent{0};
    std::thread search([&] {
        readahead_lend(&second);
        lent = 1;
    });
    usleep(20000);
    EXPECT_EQ(lent.load(), 0);
    released = 1;
    search.join();
    EXPECT_EQ(first.details_open.load(), 0);
    EXPECT_EQ(second.details_open.load(), 1);
    readahead_take_back(&second);
    close(first.fd);
    close(second.fd);
}

// The search does not wait on a helper that holds an entry: it reads the
// entry itself, and the helper's reading of it is dropped.
TEST_F(ReadaheadHandoff, AnEntryTheHelperHoldsIsReadByTheSearch)
{
    lend_parked(&first, make_directory("a", 20));
    size_t last = first.count - 1;
    EntryDetails details;
    EXPECT_EQ(readahead_take_details(&first, last, FIND_DATA_INODE, &details), 0);
    EXPECT_EQ(first.slots[last].claim.load(), CLAIM_SEARCH);
    released = 1;
    readahead_take_back(&first);
    EXPECT_EQ(first.slots[last].claim.load(), CLAIM_SEARCH);
    close(first.fd);
}

// Directories expected are read ahead and adopted while fresh; one read
// longer ago than the bound is not, whatever its times.
TEST_F(ReadaheadHandoff, ExpectedDirectoriesAreAdoptedOnlyWhileFresh)
{
    readahead_forget(0, descends_into_directories);
    for (const char *name : {"s0", "s1", "s2"}) make_directory(name, 3);
    ASSERT_TRUE(listing_open(&first, root.c_str()));
    ReadaheadCounts before = readahead_counts();
    readahead_expect_children(&first);
    ASSERT_TRUE(within_seconds([&] { return readahead_counts().read_ahead >= before.read_ahead + 3; }));

    // Children come in the listing's order: find the first one.
    const struct dirent64 *entry;
    std::string order[3];
    int n = 0;
    while ((entry = listing_next(&first)) != nullptr)
        if (entry->d_name[0] == 's') order[n++] = root + "/" + entry->d_name;
    ASSERT_EQ(n, 3);
    Listing *adopted = readahead_adopt(order[0].c_str());
    ASSERT_NE(adopted, nullptr);
    EXPECT_STREQ(adopted->path, order[0].c_str());
    readahead_release(adopted);

    struct timespec wait = {0, (long)(2 * FRESH_NANOSECONDS)};
    nanosleep(&wait, nullptr);
    EXPECT_EQ(readahead_adopt(order[1].c_str()), nullptr);
    EXPECT_EQ(readahead_counts().stale, before.stale + 1);
    close(first.fd);
}

// The search itself tells the layer what to read ahead: a change that
// silently stopped that would leave every directory to the search.  (On a
// busy machine what was read ahead may have gone stale by the time the
// search comes: that counts as found.)
TEST_F(ReadaheadHandoff, APlainSearchAdoptsDirectoriesReadAhead)
{
    for (int i = 0; i < 40; i++) {
        std::string top = "d" + std::to_string(i);
        make_directory(top, 2);
        for (int k = 0; k < 5; k++) make_directory(top + "/e" + std::to_string(k), 2);
    }
    FILE *out = fopen("/dev/null", "w");
    ReadaheadCounts before = readahead_counts();
    std::string argument = root + "/*.c";
    for (char &c : argument)
        if (c == '/') c = '\\';
    search_tree(out, argument.c_str());
    fclose(out);
    ReadaheadCounts after = readahead_counts();
    EXPECT_GT(after.adopted + after.stale, before.adopted + before.stale);
}
