// Nesting far beyond what the host can print, and the streaming contract.
// Layout details are checked against the host's printer in test_printer.py.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "json/json_value.hpp"
#include "print/printer.hpp"
#include "print/repr.hpp"

using quillon::json::Arena;
using quillon::json::Member;
using quillon::json::Value;

namespace {

// [[[...leaf...]]] or {'k': {'k': ...}}, `depth` levels deep.
Value nest(Arena& arena, int depth, bool objects, Value leaf) {
  Value v = leaf;
  for (int i = 0; i < depth; ++i) {
    if (objects) {
      Member m{arena.store_key("k"), v};
      v = arena.copy_object({&m, 1});
    } else {
      v = arena.copy_array({&v, 1});
    }
  }
  return v;
}

std::string repeat(std::string_view s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

}  // namespace

class DeepNesting : public ::testing::TestWithParam<bool> {};

TEST_P(DeepNesting, PrintsWithoutExhaustingTheStack) {
  const bool objects = GetParam();
  const int depth = 200000;
  Arena arena;
  Value v = nest(arena, depth, objects, Value::text("x"));
  // One element per level: broken or flat, the text is the same.
  std::string expected =
      objects ? repeat("{'k': ", depth) + "'x'" + repeat("}", depth) : repeat("[", depth) + "'x'" + repeat("]", depth);
  std::string flat;
  quillon::repr::append(flat, v, false);
  EXPECT_EQ(flat, expected);
  EXPECT_EQ(quillon::pretty_format(v), expected);
}

INSTANTIATE_TEST_SUITE_P(Printer, DeepNesting, ::testing::Bool());

TEST(PrinterThreads, HandsOverBoundedPiecesAsItGoes) {
  Arena arena;
  std::vector<Value> rows;
  for (int i = 0; i < 50000; ++i) {
    Member m[2] = {{arena.store_key("id"), Value::integer(i)}, {arena.store_key("name"), Value::text("some row name")}};
    rows.push_back(arena.copy_object(m));
  }
  Value v = arena.copy_array(rows);
  std::vector<std::string> pieces;
  quillon::pretty_print(v, [&](std::string_view p) { pieces.emplace_back(p); });
  ASSERT_GT(pieces.size(), 5u);
  std::string joined;
  for (const auto& p : pieces) {
    EXPECT_LE(p.size(), 64u * 1024 + 256);
    joined += p;
  }
  // As the host prints it: too wide for one line, so one row per line.
  std::string expected = "[";
  for (int i = 0; i < 50000; ++i)
    expected += (i ? ",\n {'id': " : "{'id': ") + std::to_string(i) + ", 'name': 'some row name'}";
  EXPECT_EQ(joined, expected + "]\n");
}

// Objects whose keys are the very same strings share a sorted order; one
// with the same strings in another order must still be sorted on its own.
TEST(Printer, ObjectsSharingKeyStringsSortEachOnItsOwnOrder) {
  Arena arena;
  const quillon::json::Key a = arena.store_key("a"), b = arena.store_key("b"), c = arena.store_key("c");
  std::vector<Value> records;
  const std::vector<std::vector<std::pair<const quillon::json::Key*, int>>> layouts = {
      {{&b, 1}, {&a, 2}}, {{&a, 3}, {&b, 4}}, {{&b, 5}, {&a, 6}}, {{&c, 7}, {&a, 8}}, {{&b, 9}, {&a, 10}}};
  for (const auto& layout : layouts) {
    std::vector<Member> members;
    for (const auto& [key, n] : layout) members.push_back({*key, Value::integer(n)});
    records.push_back(arena.copy_object(members));
  }
  EXPECT_EQ(quillon::pretty_format(arena.copy_array(records)),
            "[{'a': 2, 'b': 1}, {'a': 3, 'b': 4}, {'a': 6, 'b': 5}, {'a': 8, 'c': 7}, {'a': 10, 'b': 9}]");
}

// Records that just miss their line keep the members their flat trial
// completed; whatever is reused or laid out anew, joining the lines again
// must give the flat text (texts without spaces or line ends are never cut).
TEST(Printer, LinesJoinBackIntoTheFlatText) {
  static const std::vector<std::string> units = {"x", "\xE6\x9D\xB1", "'", "\"", "\\", "\x01", "\xED\xA0\x80"};
  Arena arena;
  std::vector<quillon::json::Key> keys;
  for (const char* k : {"a", "name", "it's", "\xC3\xA9t\xC3\xA9", "a_rather_long_key_name"})
    keys.push_back(arena.store_key(k));
  std::vector<std::string> storage;  // texts the values point at
  storage.reserve(100000);
  unsigned seed = 12345;
  auto next = [&](unsigned n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 8) % n;
  };
  auto text = [&](std::size_t length) {
    std::string s;
    while (s.size() < length) s += next(4) ? "x" : units[next(units.size())];
    storage.push_back(s);
    return Value::text(storage.back());
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<Value> records;
    for (int r = 0; r < 3; ++r) {
      std::vector<Member> members;
      for (std::size_t m = 0; m < 1 + next(5); ++m) {
        std::size_t length = 150 + next(60);
        Value value;
        switch (next(4)) {
          case 0:
            value = text(length);
            break;
          case 1: {
            Value items[2] = {text(length - 10), Value::integer(next(1000))};
            value = arena.copy_array(items);
            break;
          }
          case 2: {
            Member inner{arena.store_key("x"), text(length - 10)};
            value = arena.copy_object({&inner, 1});
            break;
          }
          default:
            value = Value::real(next(1000) / 7.0);
        }
        members.push_back({keys[next(keys.size())], value});
      }
      records.push_back(arena.copy_object(members));
    }
    Value v = arena.copy_array(records);
    std::string printed = quillon::pretty_format(v), joined;
    for (std::size_t i = 0; i < printed.size(); ++i) {
      if (printed[i] != '\n') {
        joined += printed[i];
        continue;
      }
      joined += ' ';
      while (i + 1 < printed.size() && printed[i + 1] == ' ') ++i;
    }
    std::string flat;
    quillon::repr::append(flat, v, true);
    ASSERT_EQ(joined, flat) << "round " << round;
    ASSERT_NE(printed.find('\n'), std::string::npos);
  }
}

namespace {

using quillon::print::ListSplit;

// Elements whose layouts differ: records that just fit or just miss their
// line (198 columns at indent 1 with the "," after them), texts that break,
// nested lists, non-ASCII, empty containers and scalars.
Value mixed_list(Arena& arena, std::vector<std::string>& storage, int count) {
  storage.reserve(storage.size() + 4 * count);
  auto text = [&](std::string s) {
    storage.push_back(std::move(s));
    return Value::text(storage.back());
  };
  std::vector<Value> items;
  for (int i = 0; i < count; ++i) {
    const int near = 196 + i % 3;  // quoted: 198 fits, 199 and 200 do not
    switch (i % 9) {
      case 0: {
        Member m[3] = {{arena.store_key("id"), Value::integer(i)},
                       {arena.store_key("name"), text("row " + std::to_string(i))},
                       {arena.store_key("\xC3\xA9"), Value::null()}};
        items.push_back(arena.copy_object(m));
        break;
      }
      case 1: {
        Member m{arena.store_key("k"), text(std::string(near - 7, 'x'))};  // {'k': '...'}
        items.push_back(arena.copy_object({&m, 1}));
        break;
      }
      case 2:
        items.push_back(text(repeat("ab ", near / 3) + std::string(near % 3, 'c')));
        break;
      case 3:
        items.push_back(text(repeat("\xC3\xA9", near)));
        break;
      case 4: {
        Value inner[3] = {text(repeat("word ", 50)), Value::integer(-i),
                          Value::big_integer("123456789012345678901234567890")};
        Value nested[2] = {arena.copy_array(inner), arena.copy_array({})};
        items.push_back(arena.copy_array(nested));
        break;
      }
      case 5:
        items.push_back(text(repeat("line\n", 60)));
        break;
      case 6:
        items.push_back(arena.copy_object({}));
        break;
      case 7:
        items.push_back(Value::real(i / 7.0));
        break;
      default:
        items.push_back(text(std::string(near, 'q')));  // no space to cut at
    }
  }
  return arena.copy_array(items);
}

std::string print_with(const Value& v, int width, const ListSplit& split) {
  const auto caller = std::this_thread::get_id();
  std::string out;
  quillon::print::pretty_print(
      v,
      [&](std::string_view piece) {
        EXPECT_EQ(std::this_thread::get_id(), caller);
        EXPECT_LE(piece.size(), 2u * 64 * 1024);
        out += piece;
      },
      width, split);
  return out;
}

const ListSplit one_thread{SIZE_MAX};

// Where two texts first differ (their common length when one is a prefix of the other).
std::size_t first_difference(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  return i == a.size() && i == b.size() ? std::string_view::npos : i;
}

}  // namespace

// Blocks of elements printed on the other thread and joined in order give
// the one-thread text, whatever the blocks, the width or the last element.
TEST(PrinterThreads, BlocksJoinIntoTheOneThreadText) {
  Arena arena;
  std::vector<std::string> storage;
  // Past 66 elements a list never fits 200 columns; every kind of element comes last once.
  for (int count : {67, 68, 69, 70, 71, 72, 73, 74, 75, 1000}) {
    Value v = mixed_list(arena, storage, count);
    for (int width : {200, 40, 1}) {
      const std::string expected = print_with(v, width, one_thread);
      for (ListSplit split :
           {ListSplit{1, 1, 0, 1}, ListSplit{1, 3, 0, 700}, ListSplit{2, 64, 0, 1 << 18}, ListSplit{1, 5, SIZE_MAX, 1}})
        ASSERT_EQ(first_difference(print_with(v, width, split), expected), std::string_view::npos)
            << count << " elements, width " << width << ", block " << split.first_block << "/" << split.block_bytes;
    }
  }
  // 66 one-character elements fit 200 columns ("[1, 1, ...]" is 198), 67 do not.
  for (int count : {66, 67}) {
    std::vector<Value> ones(count, Value::integer(1));
    Value v = arena.copy_array(ones);
    EXPECT_EQ(print_with(v, 200, ListSplit{1, 1, 0, 1}), print_with(v, 200, one_thread));
    EXPECT_EQ(print_with(v, 200, ListSplit{1, 1, 0, 1}).find('\n') == std::size_t(3 * count), count == 66);
  }
}

// A writer that fails midway (a closed pipe, Ctrl-C): the failure arrives
// and the other thread is stopped and joined, whether it is printing or
// waiting two blocks ahead.
TEST(PrinterThreads, AWriterThatThrowsStopsTheOtherThread) {
  Arena arena;
  std::vector<std::string> storage;
  Value v = mixed_list(arena, storage, 3000);
  for (ListSplit split : {ListSplit{1, 1, 0, 1}, ListSplit{1, 16, 0, 4096}, ListSplit{1, 64, 0, 1 << 18}}) {
    int pieces = 0;
    quillon::print::pretty_print(
        v, [&](std::string_view) { ++pieces; }, 200, split);
    for (int fail_at : {0, 1, 2, pieces / 2, pieces - 1}) {
      int calls = 0;
      auto write = [&](std::string_view) {
        if (calls++ == fail_at) throw std::runtime_error("closed");
      };
      EXPECT_THROW(quillon::print::pretty_print(v, write, 200, split), std::runtime_error) << fail_at;
      EXPECT_EQ(calls, fail_at + 1);
    }
  }
}
