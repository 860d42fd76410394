// Filter expressions (first line, "|"-separated) applied to a JSON answer (the rest).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.hpp"
#include "filter/json_filter.hpp"
#include "json/json_decode.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t newline = input.find('\n');
  if (newline == std::string_view::npos) return 0;
  std::vector<std::string> filters;
  std::string_view line = input.substr(0, newline);
  for (std::size_t start = 0;;) {
    std::size_t bar = line.find('|', start);
    filters.emplace_back(line.substr(start, bar == std::string_view::npos ? std::string_view::npos : bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  try {
    quillon::json::Document doc = quillon::json::decode(input.substr(newline + 1));
    quillon::json::Arena arena;
    (void)quillon::filter_results(doc.root, filters, arena);
  } catch (const quillon::Error&) {
  }
  return 0;
}
