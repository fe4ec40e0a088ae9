// The directories a walk has entered through links, so that each is
// descended once per argument.
//
// A hash set that grows with the number of distinct directories reached
// through links, and stays empty (allocating nothing) in trees without
// links.  The walk gives a limit far above any real tree, so that a tree
// made of links alone cannot take all the memory; a link beyond it is the
// walk's to report.
#include <cstddef>
#include <new>
#include <unordered_set>

#include "trawl.h"

namespace {

struct IdentityHash {
    size_t operator()(const DirectoryIdentity &identity) const
    {
        uint64_t mixed = (identity.index ^ (identity.volume << 29)) * 0x9E3779B97F4A7C15ULL;
        return (size_t)(mixed ^ (mixed >> 32));
    }
};

struct IdentityEqual {
    bool operator()(const DirectoryIdentity &a, const DirectoryIdentity &b) const
    {
        return same_directory(&a, &b) != 0;
    }
};

std::unordered_set<DirectoryIdentity, IdentityHash, IdentityEqual> link_targets;

}  // namespace

int same_directory(const DirectoryIdentity *a, const DirectoryIdentity *b)
{
    return a->volume == b->volume && a->index == b->index;
}

void forget_link_targets()
{
    link_targets.clear();
}

LinkTarget remember_link_target(const DirectoryIdentity *identity, size_t limit)
{
    if (link_targets.count(*identity)) return LINK_TARGET_SEEN;
    if (link_targets.size() >= limit) return LINK_TARGET_OVER_LIMIT;
    // Memory that runs out first is a lower limit, reported the same way.
    try {
        link_targets.insert(*identity);
    } catch (const std::bad_alloc &) {
        return LINK_TARGET_OVER_LIMIT;
    }
    return LINK_TARGET_NEW;
}
