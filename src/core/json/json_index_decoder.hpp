// Builds the value tree of a document whose root is an array or an object
// from its structural index (json_structural_index.hpp), one indexed chunk
// after another: the grammar is checked as the positions go by, scalars are
// read where they start, and the host's extra tokens (NaN, Infinity,
// integers of any size, lone surrogates) take the hand reader
// (json_token_reader.hpp) only where they occur. The walk can stop between
// any two tokens and go on with the next chunk, so a document is decoded as
// it arrives. Values that the plan (json_keep_plan.hpp) says no filter reads
// are checked as strictly but not built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json_keep_plan.hpp"
#include "json/json_structural_index.hpp"
#include "json/json_tree_builder.hpp"
#include "json/json_value.hpp"

namespace quillon::json {

class IndexWalker {
 public:
  // Texts and big integers without escapes are views into the document; the
  // rest of the tree goes into `arena`. `plan` and `check_interrupt` must
  // outlive the walker; `check_interrupt` (when set) is called every
  // megabyte or so of text, and what it throws ends the walk.
  IndexWalker(Arena& arena, const KeepPlan& plan, const std::function<void()>& check_interrupt);

  // Walks the positions `index` found in text[from, ...): `text` is the
  // document so far, from its first byte, followed by padding_bytes readable
  // bytes, its bytes at an address that stays put while the walk goes on.
  // A `last` chunk ends the document (its sentinel byte is zero); any other
  // stops short of its last position, whose token may go on past the chunk,
  // and returns where in `text` the next chunk starts (a token's first
  // byte, outside any string). Throws JsonDecodeError on anything the host
  // rejects (the position is a byte of `text`).
  std::size_t walk(std::string_view text, std::size_t from, StructuralIndex& index, bool last);

  // The document's value, after a last walk.
  Value root() const { return builder_.root(); }

 private:
  // Where the walk is between two tokens.
  enum class At : std::uint8_t {
    root,    // before the document's first token
    opened,  // a container just opened: its closer or its first element is next
    item,    // an element (for an object, its key) is next
    after,   // after a value: a comma or a closer is next
    end,     // the root closed
  };
  enum class Element { built, opened, skipped_container };

  bool build();
  bool skip();
  Element element();
  Element skip_value(const char* p);
  void open(const char* p, const KeepPlan::Node* read);
  Key stored_key(const KeepPlan::Member& m);
  void close();

  // The byte at the next position, which becomes the current one. The
  // sentinel at the end stays current: its byte (zero) fits no grammar.
  const char* advance() {
    const char* p = base_ + *next_;
    if (next_ != last_) ++next_;
    return p;
  }
  const char* peek() const { return base_ + *next_; }
  const char* token_limit() const { return base_ + *next_; }
  char closer() const { return builder_.in_object() ? '}' : ']'; }
  [[noreturn]] void fail(const char* reason, const char* at) const;
  void checkpoint();

  Value scalar(const char* p);
  Value by_hand(const char* p, const char* end);
  void check_scalar(const char* p);
  void check_string(const char* quote);
  std::string_view text_at(const char* quote);
  std::string_view escaped_text_at(const char* quote);
  char* reserve_text(std::size_t bytes);

  Arena& arena_;
  TreeBuilder builder_;
  const std::function<void()>& check_interrupt_;
  At at_ = At::root;
  const KeepPlan::Node* root_plan_;
  // What is read of each open container's values; nullptr: all of it.
  std::vector<const KeepPlan::Node*> plans_;
  std::vector<Key> stored_keys_;  // of the plan's members, by id, once met
  // The closers of the open containers inside a value that is not built.
  std::string skipped_;

  // The chunk being walked.
  std::string_view text_;
  const char* base_ = nullptr;  // the chunk's first byte, where its positions count from
  StructuralIndex* index_ = nullptr;
  const std::uint32_t* next_ = nullptr;
  const std::uint32_t* last_ = nullptr;  // the sentinel
  // Items stop while fewer than three positions are left before it, a comma
  // or closer at it: a token is known to be whole only once the next one
  // is in the chunk. Past the sentinel in the last chunk.
  const std::uint32_t* stop_ = nullptr;
  std::size_t checkpoint_at_;  // the offset in the text past which the next comma is a checkpoint

  std::string scratch_;
  // Unused room of the arena chunk that texts are unescaped into.
  char* text_next_ = nullptr;
  char* text_end_ = nullptr;
  std::size_t text_chunk_ = 64 * 1024;
};

}  // namespace quillon::json
