// One filter expression read as the filter reads it: cut at every "&", each
// piece trimmed; one piece makes a descent step, two or more a projection
// step. Shared by the filter itself and by the plan of what it will read.
#pragma once

#include <string_view>
#include <vector>

namespace quillon::filter {

struct Expression {
  std::string_view whole;    // as given: a descent on an object looks this up
  std::string_view trimmed;  // the first piece, trimmed: a descent on an array looks this up
  bool descent = false;      // exactly one piece
  // The trimmed pieces, each once, in the order of their first occurrence:
  // what a projection stores.
  std::vector<std::string_view> keys;
};

// Views into `text`, which must outlive the result.
Expression parse_expression(std::string_view text);

// Calls `piece` with each piece of `text` cut at every `separator`, empty
// pieces included.
template <typename Piece>
void for_each_piece(std::string_view text, char separator, Piece&& piece) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      piece(text.substr(start));
      return;
    }
    piece(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace quillon::filter
