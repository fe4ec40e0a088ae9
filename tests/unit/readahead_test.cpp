// The read-ahead engine's hand-offs, each interleaving forced through the
// readers' hook: a reader stops before a job whose spec is held until the
// test releases it, and the test waits for what the engine reports, never
// for time.
#include "command_test_support.h"
#include "readahead.h"
#include "step_back.h"
#include "trawl.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sched.h>
#endif

namespace fs = std::filesystem;

namespace {

struct Stage {
    std::mutex mutex;
    std::condition_variable changed;
    std::set<std::string> held;
    std::multiset<std::string> started, finished;
    int search_sleeps = 0;
} stage;

void on_hook(const char *spec, int finished)
{
    std::unique_lock<std::mutex> guard(stage.mutex);
    if (spec == nullptr) {
        stage.search_sleeps++;
    } else {
        (finished ? stage.finished : stage.started).insert(spec);
    }
    stage.changed.notify_all();
    if (spec != nullptr && !finished)
        stage.changed.wait(guard, [&] { return stage.held.count(spec) == 0; });
}

template <typename Ready>
void wait_for_stage(Ready ready)
{
    std::unique_lock<std::mutex> guard(stage.mutex);
    stage.changed.wait(guard, [&] { return ready(); });
}

void release(const std::string &spec)
{
    std::lock_guard<std::mutex> guard(stage.mutex);
    stage.held.erase(spec);
    stage.changed.notify_all();
}

std::set<std::string> names_in(const Listing *listing)
{
    std::set<std::string> names;
    EXPECT_TRUE(listing->opened);
    EXPECT_TRUE(listing->whole);
    uint32_t offset = 0;
    WIN32_FIND_DATAA data;
    int details;
    DWORD detail_attributes;
    while (listing_entry(listing, &offset, &data, &details, &detail_attributes))
        if (!is_dot_entry(data.cFileName)) names.insert(data.cFileName);
    return names;
}

// Keeps every thread of the process on one CPU, or lets them go back to
// the CPUs they had.
void pin_process(bool pinned)
{
#ifdef _WIN32
    static DWORD_PTR allowed, system;
    if (pinned) GetProcessAffinityMask(GetCurrentProcess(), &allowed, &system);
    SetProcessAffinityMask(GetCurrentProcess(), pinned ? allowed & (~allowed + 1) : allowed);
#else
    static cpu_set_t allowed;
    cpu_set_t one;
    if (pinned) sched_getaffinity(0, sizeof allowed, &allowed);
    CPU_ZERO(&one);
    for (int cpu = 0; CPU_COUNT(&one) == 0 && cpu < CPU_SETSIZE; cpu++)
        if (CPU_ISSET(cpu, &allowed)) CPU_SET(cpu, &one);
    for (const auto &task : fs::directory_iterator("/proc/self/task"))
        sched_setaffinity(std::stoi(task.path().filename().string()), sizeof one,
                          pinned ? &one : &allowed);
#endif
}

class ReadaheadTest : public ::testing::Test {
  protected:
    fs::path root;
    int readers = 0;
    pattern_compiled pattern;

    void SetUp() override
    {
        root = fs::temp_directory_path() /
               ("readahead_test_" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        ASSERT_TRUE(fs::create_directory(root));
        for (int i = 0; i < 32; i++) {
            fs::create_directory(root / dir(i));
            std::ofstream(root / dir(i) / ("in_" + dir(i)));
        }
        {
            std::lock_guard<std::mutex> guard(stage.mutex);
            stage.held.clear();
            stage.started.clear();
            stage.finished.clear();
            stage.search_sleeps = 0;
        }
        readahead_test_hook = on_hook;
        readahead_may_step_back = 0;
        readers = readahead_readers(2);
        ASSERT_GE(readers, 2) << "the readers could not be started";
        ASSERT_TRUE(pattern_compile("*", &pattern));
        ReadRule rule = {pattern, 0, FIND_DATA_INODE, nullptr};
        readahead_begin(&rule);
    }

    void TearDown() override
    {
        {
            std::lock_guard<std::mutex> guard(stage.mutex);
            stage.held.clear();
            stage.changed.notify_all();
        }
        wait_for_stage([] { return stage.started.size() == stage.finished.size(); });
        ReadRule rule = {pattern, 0, 0, nullptr};
        readahead_begin(&rule);
        readahead_test_hook = nullptr;
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    static std::string dir(int i) { return "d" + std::to_string(i); }
    std::string spec(int i) const { return (root / dir(i)).string() + "\\*"; }

    void hold(int i)
    {
        std::lock_guard<std::mutex> guard(stage.mutex);
        stage.held.insert(spec(i));
    }

    // Takes the listing of directory i and checks it is that directory's.
    void take_and_check(int i)
    {
        Listing *listing = readahead_take(spec(i).c_str());
        ASSERT_NE(listing, nullptr);
        EXPECT_EQ(names_in(listing), std::set<std::string>{"in_" + dir(i)}) << spec(i);
        readahead_release(listing);
    }

    // Readers leave the first job queued to the search, which opens it
    // next: tests that want readers busy queue one the search then passes.
    void queue_first_for_the_search() { readahead_queue((root / "first\\*").string().c_str()); }

    size_t started(int i)
    {
        std::lock_guard<std::mutex> guard(stage.mutex);
        return stage.started.count(spec(i));
    }
};

// Every reader held inside a job: the job queued behind them is the
// search's to read, and the held jobs in front of it are passed without
// waiting, as for a reader stuck in a system call.
TEST_F(ReadaheadTest, QueuedJobIsTakenBackAndStuckReadersArePassed)
{
    queue_first_for_the_search();
    for (int i = 0; i < readers; i++) {
        hold(i);
        readahead_queue(spec(i).c_str());
    }
    wait_for_stage([&] { return (int)stage.started.size() == readers; });
    readahead_queue(spec(readers).c_str());
    take_and_check(readers);
    EXPECT_EQ(started(readers), 0u) << "a reader read the job the search took back";
    EXPECT_EQ(stage.search_sleeps, 0);
}

// The search needs the job a reader is reading: it reads the queued jobs
// behind it meanwhile, then sleeps until the reader is done.
TEST_F(ReadaheadTest, RunningJobIsWaitedForWhileTheSearchReadsTheNextOnes)
{
    for (int i = 0; i < readers; i++) hold(i);
    queue_first_for_the_search();
    for (int i = 0; i < readers + 2; i++) readahead_queue(spec(i).c_str());
    wait_for_stage([&] { return (int)stage.started.size() >= readers; });
    std::thread search([&] { take_and_check(0); });
    wait_for_stage([] { return stage.search_sleeps == 1; });
    EXPECT_EQ(started(readers), 1u);
    EXPECT_EQ(started(readers + 1), 1u);
    release(spec(0));
    search.join();
    for (int i = 1; i < readers; i++) release(spec(i));
    for (int i = 1; i < readers + 2; i++) take_and_check(i);
}

int is_subdirectory(const WIN32_FIND_DATAA *entry)
{
    return (entry->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !is_dot_entry(entry->cFileName);
}

// The search takes a job while its reader still reads it: the job stays
// queued until it is done, so the reader still queues its subdirectory,
// and the listing tells the search not to queue it again.
TEST_F(ReadaheadTest, JobTakenWhileRunningKeepsItsSubdirectoriesQueued)
{
    ReadRule rule = {pattern, 0, 0, is_subdirectory};
    readahead_begin(&rule);
    fs::create_directory(root / dir(0) / "inner");
    std::ofstream(root / dir(0) / "inner" / "in_inner");
    queue_first_for_the_search();
    hold(0);
    readahead_queue(spec(0).c_str());
    wait_for_stage([&] { return stage.started.count(spec(0)) == 1; });
    Listing *listing = nullptr;
    std::thread search([&] { listing = readahead_take(spec(0).c_str()); });
    wait_for_stage([] { return stage.search_sleeps == 1; });
    release(spec(0));
    search.join();
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(listing->children_queued, 1);
    readahead_release(listing);
    Listing *inner = readahead_take((root / dir(0) / "inner").string().append("\\*").c_str());
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(names_in(inner), std::set<std::string>{"in_inner"});
    readahead_release(inner);
}

// A result older than the freshness bound, and one whose directory could
// not be opened, are read again by the search, which then sees the
// directory as it is.
TEST_F(ReadaheadTest, StaleOrFailedResultsAreReadAgain)
{
    fs::remove_all(root / dir(1));
    queue_first_for_the_search();
    readahead_queue(spec(0).c_str());
    readahead_queue(spec(1).c_str());
    wait_for_stage(
        [&] { return stage.finished.count(spec(0)) + stage.finished.count(spec(1)) == 2; });
    std::ofstream(root / dir(0) / "late");
    fs::create_directory(root / dir(1));
    std::ofstream(root / dir(1) / ("in_" + dir(1)));
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    listing_test_ticks_ahead += frequency.QuadPart * 2 * FRESH_MICROSECONDS / 1000000;

    Listing *listing = readahead_take(spec(0).c_str());
    ASSERT_NE(listing, nullptr);
    EXPECT_EQ(names_in(listing), (std::set<std::string>{"in_d0", "late"}));
    readahead_release(listing);
    take_and_check(1);
}

// With every reader busy, in any order of completion, each directory gets
// its own listing.
TEST_F(ReadaheadTest, ManyReadersEachListingNamesItsOwnDirectory)
{
    readers = readahead_readers(4);
    for (int round = 0; round < 4; round++) {
        for (int i = 0; i < 32; i++) readahead_queue(spec(i).c_str());
        for (int i = 0; i < 32; i++) take_and_check(i);
    }
}

// Readers that only take turns with the search on its CPU are stood down
// after a window of takes.
TEST_F(ReadaheadTest, ReadersOnTheSearchsOwnCpuAreSteppedBack)
{
#ifdef _WIN32
    // Under Wine opening a directory can take over a millisecond, which the
    // rule rightly reads as a disk's wait.
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr)
        GTEST_SKIP() << "openings under Wine are as slow as a disk's";
#endif
    readahead_may_step_back = 1;
    pin_process(true);
    EXPECT_TRUE(readahead_active());
    for (int round = 1; round <= 10; round++) {
        for (int i = 0; i < 32; i++) readahead_queue(spec(i).c_str());
        // Readers leave the first to the search; they read all the others.
        wait_for_stage([&] {
            for (int i = 1; i < 32; i++)
                if (stage.finished.count(spec(i)) < (size_t)round) return false;
            return true;
        });
        for (int i = 0; i < 32; i++) take_and_check(i);
    }
    pin_process(false);
    EXPECT_FALSE(readahead_active());
}

// A window of jobs begun on the search's CPU stands the readers down,
// unless a quarter of the jobs' openings waited for a disk meanwhile.
TEST(StepBack, CpuVerdictWaitsWhileTheJobsWaitForADisk)
{
    struct Row {
        int slow_every;  // every nth opening waits for a disk; 0: none
        int stood_down;
    } rows[] = {{0, 1}, {8, 1}, {2, 0}, {1, 0}};
    readahead_may_step_back = 1;
    pin_process(true);
    for (const Row &row : rows) {
        step_back_begin();
        for (int take = 0; take < 256; take++) {
            int slow = row.slow_every && take % row.slow_every == 0;
            step_back_count_run();
            step_back_note_opening(ticks_in(slow ? 200 : 10));
            step_back_judge(0);
        }
        EXPECT_EQ(step_back_now(), row.stood_down) << "every " << row.slow_every;
    }
    pin_process(false);
    step_back_begin();
    readahead_may_step_back = 0;
}

// The whole search prints the same with no reader and with four, on a
// tree with nested and empty directories and one larger than a listing
// holds.
TEST_F(ReadaheadTest, SearchPrintsTheSameWithNoReaderAndWithFour)
{
    for (int i = 0; i < 32; i += 3) {
        fs::create_directories(root / dir(i) / "inner" / "deeper");
        std::ofstream(root / dir(i) / "inner" / "deeper" / "x.c") << "int x;";
        fs::create_directory(root / dir(i) / "empty");
    }
    for (int i = 0; i < 400; i++)
        std::ofstream(root / dir(5) /
                      ("a_fairly_long_name_to_fill_the_listing_" + std::to_string(i) + ".c"))
            << std::string(i, 'x');
    struct Run {
        const char *option;
        const char *pattern;
    };
    const Run runs[] = {{"-l", "*"}, {"-n", "*.c"}, {"-s+100", "*"}, {"-r", "*"}, {nullptr, "*.c"}};
    for (const Run &row : runs) {
        std::string outputs[2];
        for (int run = 0; run < 2; run++) {
            reset_globals();
            char *argv[] = {(char *)"trawl", (char *)row.option};
            parse_options(row.option ? 2 : 1, argv);
            std::string path = root.string() + "\\" + row.pattern;
            readahead_readers(run == 0 ? 0 : 4);
            FILE *out = tmpfile();
            ASSERT_NE(out, nullptr);
            search_tree(out, path.c_str());
            long size = ftell(out);
            rewind(out);
            outputs[run].resize((size_t)size);
            ASSERT_EQ(fread(&outputs[run][0], 1, (size_t)size, out), (size_t)size);
            fclose(out);
        }
        EXPECT_NE(outputs[0], "") << row.pattern;
        EXPECT_EQ(outputs[1], outputs[0]) << (row.option ? row.option : "") << " " << row.pattern;
    }
    readahead_readers(2);
}

}  // namespace
