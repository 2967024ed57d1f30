#include "engine/core/tag_match.h"

namespace engine {

// Greedy matching with one backtrack point: on a mismatch the last '*' takes one more
// character. Linear in practice, never recursive, whatever the pattern.
bool tag_matches(std::string_view pattern, std::string_view tag) {
    size_t p = 0, t = 0;
    size_t star = std::string_view::npos, star_t = 0;
    while (t < tag.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            star_t = t;
        } else if (p < pattern.size() && pattern[p] == tag[t]) {
            ++p;
            ++t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++star_t;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

} // namespace engine
