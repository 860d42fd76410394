#include "json/json_structural_index.hpp"

#include <simdjson.h>
#include <algorithm>
#include <cstdint>

#include "json/json_decode.hpp"

// The parser library's first stage is not public API. This file is the only
// one that reaches into the library's internals, and it relies on exactly
// these parts of simdjson::internal::dom_parser_implementation, as they are
// in the release kept in third_party/simdjson:
// - get_active_implementation()->create_dom_parser_implementation(capacity,
//   depth, out) makes one for the best instruction set of this processor;
// - stage1(bytes, length, stage1_mode::regular) validates UTF-8, finds every
//   string's extent, refuses control characters inside strings and writes
//   the positions of structural characters and token starts; it starts
//   outside any string (so a chunk may begin at any token), returns
//   UNCLOSED_STRING for text that ends inside one, and EMPTY, with the
//   sentinel written and no positions, for text with no token;
// - structural_indexes (the positions) and n_structural_indexes (their
//   count; the slot after the last holds the text's length);
// - capacity(), the largest text the buffers hold;
// - parse_string(src, dst, allow_replacement = false), the unescaper, which
//   refuses lone surrogates and bad escapes with a null result.
// A newer release may change any of them: check each before moving the pin.
static_assert(simdjson::SIMDJSON_VERSION_MAJOR == 3 && simdjson::SIMDJSON_VERSION_MINOR == 12 &&
                  simdjson::SIMDJSON_VERSION_REVISION == 3,
              "json_structural_index.cpp relies on the internals of simdjson 3.12.3 (see the comment above)");

namespace quillon::json {
namespace {

static_assert(padding_bytes >= simdjson::SIMDJSON_PADDING);

// The first stage does not track nesting; the library still wants a depth.
constexpr std::size_t stage_depth = 64;

}  // namespace

StructuralIndex::StructuralIndex() = default;
StructuralIndex::~StructuralIndex() = default;

StructuralIndex::Outcome StructuralIndex::build(std::string_view text) {
  if (!stage_ || stage_->capacity() < text.size()) {
    // Chunks grow now and then: by doubling, so that this is rare.
    const std::size_t capacity = std::max(text.size(), stage_ ? 2 * stage_->capacity() : 0);
    stage_.reset();
    if (simdjson::get_active_implementation()->create_dom_parser_implementation(capacity, stage_depth, stage_))
      return Outcome::rejected;
  }
  const auto error =
      stage_->stage1(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), simdjson::stage1_mode::regular);
  switch (error) {
    case simdjson::SUCCESS:
      return Outcome::indexed;
    case simdjson::EMPTY:
      // No token: the positions are the sentinel alone.
      if (text.empty()) break;
      stage_->n_structural_indexes = 0;
      return Outcome::indexed;
    case simdjson::UNCLOSED_STRING:
      return Outcome::unclosed_string;
    case simdjson::UTF8_ERROR:
      return Outcome::invalid_utf8;
    default:
      break;
  }
  return Outcome::rejected;
}

std::span<const std::uint32_t> StructuralIndex::positions() const {
  return {stage_->structural_indexes.get(), std::size_t{stage_->n_structural_indexes} + 1};
}

char* StructuralIndex::unescape(const char* src, char* dst) const {
  return reinterpret_cast<char*>(stage_->parse_string(reinterpret_cast<const std::uint8_t*>(src),
                                                      reinterpret_cast<std::uint8_t*>(dst),
                                                      /*allow_replacement=*/false));
}

}  // namespace quillon::json
