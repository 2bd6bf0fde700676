#pragma once

// Finding clips by start time: a bound is the date "%04d/%02d/%02d" followed
// directly by the time "%02d:%02d" (15 characters), and a clip's start is its
// SDate followed by its STime. Being fixed width, these texts compare
// byte-wise in time order. Both bounds are inclusive and apply to the start
// only; seconds play no part.

#include "clips/core/ClipGroups.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

std::string searchBound(int year, int month, int day, int hour, int minute);

struct SearchFilter {
    bool after = false;
    std::string lower;
    bool before = false;
    std::string upper;
};

bool clipMatches(const ClipRecord& record, const SearchFilter& filter);

struct SearchHit {
    size_t group;
    size_t record;
};

// The matching records of one group, or of every group in group order when
// `group` is empty.
std::vector<SearchHit> searchClips(const std::vector<ClipGroup>& groups, std::optional<size_t> group,
                                   const SearchFilter& filter);
