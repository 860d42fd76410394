// Filter expressions (first line, "|"-separated) applied to a JSON answer (the
// rest). The answer is decoded twice: whole, and as a run decodes it, in
// chunks as it arrives and built only as far as the filters read it; the two
// must give the same result or the same error.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/errors.hpp"
#include "filter/json_filter.hpp"
#include "filter/keep_plan.hpp"
#include "json/json_decode.hpp"
#include "print/printer.hpp"

namespace {

// What came of it: the printed result, or the error's message.
std::string outcome(std::string_view answer, const std::vector<std::string>& filters, std::size_t chunk,
                    std::size_t piece) {
  try {
    quillon::json::Document doc;
    if (chunk == 0) {
      doc = quillon::json::decode(answer);
    } else {
      const quillon::json::KeepPlan plan = quillon::keep_plan(filters);
      auto body = std::make_shared<std::string>(answer.size() + quillon::json::padding_bytes, '\0');
      quillon::json::StreamDecoder stream(plan, {}, chunk);
      for (std::size_t came = 0; came < answer.size();) {
        const std::size_t n = std::min(piece, answer.size() - came);
        std::memcpy(body->data() + came, answer.data() + came, n);
        came += n;
        stream.grew(std::string_view(body->data(), came));
      }
      doc = stream.finish(std::string_view(body->data(), answer.size()), body, body->size());
    }
    return "value " + quillon::pretty_format(quillon::filter_results(doc.root, filters, doc.arena), 80);
  } catch (const quillon::Error& e) {
    return "error " + std::string(e.what());
  }
}

}  // namespace

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
  const std::string_view answer = input.substr(newline + 1);
  // Chunks and pieces of a few bytes, so that small inputs are cut everywhere.
  const std::size_t chunk = 1 + size % 29, piece = 1 + size % 7;
  if (outcome(answer, filters, 0, 0) != outcome(answer, filters, chunk, piece)) std::abort();
  return 0;
}
