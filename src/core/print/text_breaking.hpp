// Text too long for its line, cut as the host's printer cuts it: at line
// ends, and long lines into words (a non-space run and the white space after
// it) packed greedily, each piece measured as the quoted text it becomes.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace quillon::print {

// Appends the pieces of `s` to `chunks`: each fits `room` columns once
// quoted, the last with `allowance` columns to spare, unless a single word
// is wider. One piece means the text is not cut.
void break_text(std::string_view s, std::int64_t room, std::int64_t allowance, std::vector<std::string_view>& chunks);

}  // namespace quillon::print
