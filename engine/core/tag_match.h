// Match patterns of outputs: '*' stands for any run of characters (also none); every
// other character matches itself, case-sensitively.
#pragma once

#include <string_view>

namespace engine {

bool tag_matches(std::string_view pattern, std::string_view tag);

} // namespace engine
