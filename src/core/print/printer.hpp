// The result printer: the layout of the host's pretty printer with one
// element per line, sorted object keys and no depth limit.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "json/json_value.hpp"

namespace quillon {

// Writes `value` exactly as pprint.PrettyPrinter(width=width).pprint(value) does, final line
// break included, handing the text to `write` in large chunks as it goes. A long top-level
// list is laid out partly on a second thread; `write` is only ever called on this one, and
// when it throws, the other thread is stopped and joined before the exception leaves.
void pretty_print(const json::Value& value, const std::function<void(std::string_view)>& write, int width = 200);
// The same text without the final line break (pformat).
std::string pretty_format(const json::Value& value, int width = 200);

namespace print {

// When a top-level list is printed on two threads, and in what blocks.
struct ListSplit {
  std::size_t min_items = 256;        // a shorter list is printed as any other value
  std::size_t first_block = 64;       // elements printed before deciding
  std::size_t min_bytes = 1 << 20;    // less text foreseen by then, and one thread prints it all
  std::size_t block_bytes = 1 << 18;  // about this much text in a block
};

// pretty_print with its split settings given, for tests.
void pretty_print(const json::Value& value, const std::function<void(std::string_view)>& write, int width,
                  const ListSplit& split);

}  // namespace print

}  // namespace quillon
