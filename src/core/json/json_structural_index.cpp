#include "json/json_structural_index.hpp"

#include <simdjson.h>
#include <sys/mman.h>
#include <unistd.h>

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
//   the positions of structural characters and token starts;
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

// The index takes four bytes per byte of capacity (only the touched part
// is resident); one much larger than usual is given back after its answer.
constexpr std::size_t keep_capacity = std::size_t{32} << 20;

// The first stage does not track nesting; the library still wants a depth.
constexpr std::size_t stage_depth = 64;

}  // namespace

StructuralIndex::StructuralIndex() = default;
StructuralIndex::~StructuralIndex() = default;

StructuralIndex::Outcome StructuralIndex::build(std::string_view text) {
  if (!stage_ || stage_->capacity() < text.size()) {
    stage_.reset();
    if (simdjson::get_active_implementation()->create_dom_parser_implementation(text.size(), stage_depth, stage_))
      return Outcome::rejected;
  }
  auto error =
      stage_->stage1(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), simdjson::stage1_mode::regular);
  if (error == simdjson::SUCCESS) return Outcome::indexed;
  return error == simdjson::UTF8_ERROR ? Outcome::invalid_utf8 : Outcome::rejected;
}

std::span<const std::uint32_t> StructuralIndex::positions() const {
  return {stage_->structural_indexes.get(), std::size_t{stage_->n_structural_indexes} + 1};
}

char* StructuralIndex::unescape(const char* src, char* dst) const {
  return reinterpret_cast<char*>(stage_->parse_string(reinterpret_cast<const std::uint8_t*>(src),
                                                      reinterpret_cast<std::uint8_t*>(dst),
                                                      /*allow_replacement=*/false));
}

void StructuralIndex::trim() {
  if (releasable()) stage_.reset();
}

bool StructuralIndex::releasable() const { return stage_ && stage_->capacity() > keep_capacity; }

void StructuralIndex::release(const std::uint32_t* from, const std::uint32_t* to) {
  static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(from) + page - 1) & ~(page - 1);
  const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(to) & ~(page - 1);
  // Advice only: where it is not taken the pages simply stay.
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

StructuralIndex& thread_structural_index() {
  thread_local StructuralIndex index;
  return index;
}

}  // namespace quillon::json
