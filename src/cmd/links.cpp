// The directories a walk has entered through links, so that each is
// descended once per argument.
//
// A fixed open-addressing table: no allocation, and cleared only when an
// argument's walk has used it.  When it is full, further links are not
// descended; the walk stays bounded whatever the tree.
#include <cstring>

#include "trawl.h"

namespace {

const unsigned LINK_TARGET_SLOTS = 1u << 15;

struct LinkTargets {
    DirectoryIdentity identities[LINK_TARGET_SLOTS];
    unsigned char used[LINK_TARGET_SLOTS];
    unsigned count;
};

LinkTargets link_targets;

unsigned slot_of(const DirectoryIdentity *identity)
{
    uint64_t mixed = (identity->index ^ (identity->volume << 29)) * 0x9E3779B97F4A7C15ULL;
    return (unsigned)(mixed >> 40) & (LINK_TARGET_SLOTS - 1);
}

}  // namespace

int same_directory(const DirectoryIdentity *a, const DirectoryIdentity *b)
{
    return a->volume == b->volume && a->index == b->index;
}

void forget_link_targets()
{
    if (link_targets.count == 0) return;
    memset(link_targets.used, 0, sizeof link_targets.used);
    link_targets.count = 0;
}

int remember_link_target(const DirectoryIdentity *identity)
{
    // Kept at most three quarters full, so a probe always ends at a free slot.
    unsigned slot = slot_of(identity);
    while (link_targets.used[slot]) {
        if (same_directory(&link_targets.identities[slot], identity)) return 0;
        slot = (slot + 1) & (LINK_TARGET_SLOTS - 1);
    }
    if (link_targets.count >= LINK_TARGET_SLOTS / 4 * 3) return 0;
    link_targets.used[slot] = 1;
    link_targets.identities[slot] = *identity;
    link_targets.count++;
    return 1;
}
