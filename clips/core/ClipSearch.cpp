#include "clips/core/ClipSearch.h"

#include <cstdio>

std::string searchBound(int year, int month, int day, int hour, int minute) {
    char text[64];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d%02d:%02d", year, month, day, hour, minute);
    return text;
}

bool clipMatches(const ClipRecord& record, const SearchFilter& filter) {
    const std::string start = record.SDate + record.STime;
    // std::string compares like memcmp: byte-wise, unsigned.
    return (!filter.after || !(start < filter.lower)) && (!filter.before || !(filter.upper < start));
}

std::vector<SearchHit> searchClips(const std::vector<ClipGroup>& groups, std::optional<size_t> group,
                                   const SearchFilter& filter) {
    std::vector<SearchHit> hits;
    const size_t first = group ? *group : 0;
    const size_t last = group ? *group + 1 : groups.size();
    for (size_t g = first; g < last && g < groups.size(); ++g)
        for (size_t r = 0; r < groups[g].records.size(); ++r)
            if (clipMatches(groups[g].records[r], filter))
                hits.push_back({g, r});
    return hits;
}
