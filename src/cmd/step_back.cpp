// The step-back rule of the read-ahead engine.  It steps back when the
// search waits for readers more than an eighth of a window, or when most
// of the window's jobs began on the CPU the search runs on while the jobs
// did not wait for a disk: a search blocked on the disk leaves its CPU
// idle, and a reader there costs it nothing.  A verdict
// stands for 2 windows, doubled each time the readers fail again at once,
// up to 32: one unlucky window costs little, and a lasting cause is soon
// tried only now and then.
#include "step_back.h"

#include "readahead.h"
#include "trawl.h"

int readahead_may_step_back = 1;

namespace {

const int WINDOW_TAKES = 256, STEP_BACK_FIRST = 2, STEP_BACK_LONGEST = 32;
// Opening a directory and reading its first entries takes under 25 us
// from memory, and 60 us or more when they come from a disk, even one
// that answers from its host's cache: a window is waiting for a disk when
// a quarter of its openings take longer than this.
const int64_t SLOW_OPENING_MICROSECONDS = 40;

struct Window {
    int64_t started, waited;
    int takes, runs_beside_search, runs_elsewhere, openings, slow_openings;
};
Window window;
int windows_stepped_back, step_back_next;
int64_t slow_opening_ticks;  // asked once a walk, not under the lock per job
DWORD search_cpu;  // at the search's last take

}  // namespace

void step_back_begin()
{
    window = {counter_ticks(), 0, 0, 0, 0, 0, 0};
    slow_opening_ticks = ticks_in(SLOW_OPENING_MICROSECONDS);
    windows_stepped_back = 0;
    step_back_next = STEP_BACK_FIRST;
}

void step_back_count_run()
{
    (GetCurrentProcessorNumber() == search_cpu ? window.runs_beside_search
                                               : window.runs_elsewhere)++;
}

void step_back_judge(int64_t waited)
{
    search_cpu = GetCurrentProcessorNumber();
    window.waited += waited;
    if (++window.takes < WINDOW_TAKES) return;
    int64_t now = counter_ticks();
    if (windows_stepped_back > 0) {
        windows_stepped_back--;
    } else if (readahead_may_step_back &&
               (window.waited * 8 > now - window.started ||
                (window.runs_beside_search > window.runs_elsewhere &&
                 window.slow_openings * 4 <= window.openings))) {
        windows_stepped_back = step_back_next;
        if (step_back_next < STEP_BACK_LONGEST) step_back_next *= 2;
    } else {
        step_back_next = STEP_BACK_FIRST;
    }
    window = {now, 0, 0, 0, 0, 0, 0};
}

void step_back_note_opening(int64_t ticks)
{
    window.openings++;
    if (ticks > slow_opening_ticks) window.slow_openings++;
}

int step_back_now()
{
    return windows_stepped_back > 0;
}
