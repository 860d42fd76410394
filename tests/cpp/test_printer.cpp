// Nesting far beyond what the host can print, and the streaming contract.
// Layout details are checked against the host's printer in test_printer.py.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
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

TEST(Printer, HandsOverBoundedPiecesAsItGoes) {
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
  // What the writer throws (a closed pipe, Ctrl-C) ends the printing there.
  for (std::size_t fail_at : {std::size_t{0}, pieces.size() / 2, pieces.size() - 1}) {
    std::size_t calls = 0;
    auto write = [&](std::string_view) {
      if (calls++ == fail_at) throw std::runtime_error("closed");
    };
    EXPECT_THROW(quillon::pretty_print(v, write), std::runtime_error);
    EXPECT_EQ(calls, fail_at + 1);
  }
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
