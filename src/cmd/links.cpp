// The directories a walk has entered through links, so that each is
// descended once per argument.
//
// An open-addressing table that grows with the number of distinct
// directories reached through links, allocated when the first link is met:
// trees without links pay nothing.  It takes its memory from the C library,
// as nothing else in the program needs the C++ runtime, whose loading alone
// would cost more memory than a walk of a large tree uses.  The walk gives
// a limit far above any real tree, so that a tree made of links alone
// cannot take all the memory; a link beyond it is the walk's to report.
#include <cstdlib>
#include <cstring>

#include "trawl.h"

namespace {

const size_t FIRST_SLOTS = 1024;

struct LinkTargets {
    DirectoryIdentity *identities;
    unsigned char *used;
    size_t slots;  // a power of two; 0 before the first link
    size_t count;
};

LinkTargets link_targets;

size_t slot_of(const DirectoryIdentity *identity, size_t slots)
{
    uint64_t mixed = (identity->index ^ (identity->volume << 29)) * 0x9E3779B97F4A7C15ULL;
    return (size_t)(mixed >> 32) & (slots - 1);
}

// The slot that holds the identity, or the free slot where it belongs.
size_t probe(const LinkTargets *table, const DirectoryIdentity *identity)
{
    size_t slot = slot_of(identity, table->slots);
    while (table->used[slot] && !same_directory(&table->identities[slot], identity))
        slot = (slot + 1) & (table->slots - 1);
    return slot;
}

void put(LinkTargets *table, size_t slot, const DirectoryIdentity *identity)
{
    table->used[slot] = 1;
    table->identities[slot] = *identity;
    table->count++;
}

// Moves the table into one twice its size (the first one when it has
// none); 0, with the table unchanged, when the memory cannot be had.
int grow(LinkTargets *table)
{
    LinkTargets larger = {nullptr, nullptr, table->slots ? table->slots * 2 : FIRST_SLOTS, 0};
    larger.identities = (DirectoryIdentity *)calloc(larger.slots, sizeof *larger.identities);
    larger.used = (unsigned char *)calloc(larger.slots, 1);
    if (!larger.identities || !larger.used) {
        free(larger.identities);
        free(larger.used);
        return 0;
    }
    for (size_t slot = 0; slot < table->slots; slot++)
        if (table->used[slot])
            put(&larger, probe(&larger, &table->identities[slot]), &table->identities[slot]);
    free(table->identities);
    free(table->used);
    *table = larger;
    return 1;
}

}  // namespace

int same_directory(const DirectoryIdentity *a, const DirectoryIdentity *b)
{
    return a->volume == b->volume && a->index == b->index;
}

void forget_link_targets()
{
    if (link_targets.count == 0) return;
    memset(link_targets.used, 0, link_targets.slots);
    link_targets.count = 0;
}

LinkTarget remember_link_target(const DirectoryIdentity *identity, size_t limit)
{
    LinkTargets *table = &link_targets;
    if (table->count > 0 && table->used[probe(table, identity)]) return LINK_TARGET_SEEN;
    if (table->count >= limit) return LINK_TARGET_OVER_LIMIT;
    // Kept at most three quarters full, so that a probe always ends at a
    // free slot.  Memory that runs out first is a lower limit.
    if ((table->count + 1) * 4 > table->slots * 3 && !grow(table)) return LINK_TARGET_OVER_LIMIT;
    put(table, probe(table, identity), identity);
    return LINK_TARGET_NEW;
}
