// The core instance of the filter: what only the C++ side can show (sharing of
// input storage, arena lifetimes, messages per kind). The rules themselves are
// checked against a model in tests/python/test_filter.py.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "filter/json_filter.hpp"

namespace {

using quillon::json::Arena;
using quillon::json::Kind;
using quillon::json::Member;
using quillon::json::Value;

struct Build {
  Arena arena;
  Value text(std::string_view s) { return Value::text(arena.copy(s)); }
  Value array(std::initializer_list<Value> items) { return arena.copy_array(std::vector<Value>(items)); }
  Value object(std::initializer_list<std::pair<std::string_view, Value>> members) {
    std::vector<Member> m;
    for (auto& [k, v] : members) m.push_back(Member{arena.store_key(k), v});
    return arena.copy_object(m);
  }
};

Value filter(Value v, std::vector<std::string> filters, Arena& arena) {
  return quillon::filter_results(v, filters, arena);
}

TEST(JsonFilter, PassesTheInputsOwnStorageOn) {
  Build b;
  Value size = b.object({{"cpu", Value::integer(2)}});
  Value records = b.array({b.object({{"name", b.text("gw-a")}, {"size", size}})});
  Value answer = b.object({{"results", records}});
  Arena out;
  // Descent on an object yields the member itself, not a copy.
  Value r = filter(answer, {"results"}, out);
  EXPECT_EQ(r.items().data(), records.items().data());
  // A new array, whose entries are the elements' own values.
  Value sizes = filter(records, {"size"}, out);
  ASSERT_EQ(sizes.size(), 1u);
  EXPECT_NE(sizes.items().data(), records.items().data());
  EXPECT_EQ(sizes.items()[0].members().data(), size.members().data());
  // No filters: the value itself.
  EXPECT_EQ(filter(answer, {}, out).members().data(), answer.members().data());
}

TEST(JsonFilter, ProjectedKeysOutliveTheFilterList) {
  Build b;
  Value answer = b.object({{"name", b.text("gw-a")}});
  Arena out;
  Value r;
  {
    std::vector<std::string> filters{std::string(" name & vpc_id & name ")};
    r = quillon::filter_results(answer, filters, out);
    for (auto& f : filters) f.assign(f.size(), 'X');  // what the keys pointed at, were they views
  }
  ASSERT_EQ(r.kind(), Kind::object);
  ASSERT_EQ(r.size(), 2u);  // duplicates keep one entry, at the first position
  EXPECT_EQ(r.members()[0].key(), "name");
  EXPECT_EQ(r.members()[0].value.as_chars(), "gw-a");
  EXPECT_EQ(r.members()[1].key(), "vpc_id");
  EXPECT_EQ(r.members()[1].value.as_chars(), "FILTER_NOT_FOUND");
}

TEST(JsonFilter, LookupInANonObjectFailsWithTheHostsMessage) {
  Build b;
  struct Case {
    Value element;
    const char* message;
  };
  const Case cases[] = {
      {b.array({}), "list indices must be integers or slices, not str"},
      {b.text("vpc-1"), "string indices must be integers, not 'str'"},
      {Value::null(), "'NoneType' object is not subscriptable"},
      {Value::boolean(true), "'bool' object is not subscriptable"},
      {Value::integer(3), "'int' object is not subscriptable"},
      {Value::big_integer("123456789012345678901234567890"), "'int' object is not subscriptable"},
      {Value::real(1.5), "'float' object is not subscriptable"},
  };
  for (const Case& c : cases) {
    for (const char* expression : {"x", "x&y"}) {  // neither array step forgives it
      Arena out;
      try {
        filter(b.array({c.element}), {expression}, out);
        ADD_FAILURE() << c.message << " not raised for " << expression;
      } catch (const quillon::Error& e) {
        EXPECT_EQ(e.kind(), quillon::ErrorKind::type);
        EXPECT_STREQ(e.what(), c.message);
      }
    }
  }
}

TEST(JsonFilter, MissingKeyInAnArrayDescentNamesTheKey) {
  Build b;
  Value records = b.array({b.object({{"vpc_id", b.text("v")}}), b.object({})});
  Arena out;
  try {
    filter(records, {" vpc_id "}, out);
    FAIL() << "no error";
  } catch (const quillon::KeyLookupError& e) {
    EXPECT_EQ(e.key(), "vpc_id");  // the trimmed key
  }
}

TEST(JsonFilter, LongFilterListsRunWithoutDeepCalls) {
  // A chain of objects, one expression per level: deeper than an 8 MiB stack
  // holds calls of 40 bytes or more.
  constexpr int depth = 200'000;
  Arena arena;
  Value v = Value::integer(7);
  const quillon::json::Key k = arena.store_key("k");
  for (int i = 0; i < depth; ++i) {
    Member* m = arena.allocate_array<Member>(1);
    *m = Member{k, v};
    v = Value::object(m, 1);
  }
  std::vector<std::string> filters(depth, "k");
  Value r = quillon::filter_results(v, filters, arena);
  ASSERT_EQ(r.kind(), Kind::integer);
  EXPECT_EQ(r.as_integer(), 7);
  filters.push_back("k");  // one more reaches the scalar
  EXPECT_TRUE(quillon::filter_results(v, filters, arena).is_null());
}

// A long step calls the caller's check every few thousand elements, and
// stops with what it throws (Ctrl-C); both kinds of step on an array.
TEST(JsonFilter, ChecksForAStopAsItGoes) {
  struct Stop {};
  constexpr int count = 100000;
  for (const char* step : {"id", "id & name"}) {
    Build b;
    std::vector<Value> records;
    for (int i = 0; i < count; ++i) records.push_back(b.object({{"id", Value::integer(i)}}));
    Value v = b.arena.copy_array(records);
    int calls = 0;
    Arena out;
    const std::vector<std::string> filters{step};
    quillon::filter_results(v, filters, out, quillon::FilterInput::kept, [&] { ++calls; });
    EXPECT_GE(calls, count / 8192) << step;
    int left = calls / 2;
    EXPECT_THROW(quillon::filter_results(v, filters, out, quillon::FilterInput::kept,
                                         [&] {
                                           if (--left == 0) throw Stop{};
                                         }),
                 Stop)
        << step;
  }
}

TEST(SplitFilterList, CutsAtCommasAndTrims) {
  using L = std::vector<std::string>;
  EXPECT_EQ(quillon::split_filter_list(""), L{""});
  EXPECT_EQ(quillon::split_filter_list("results, name & vpc_id ,"), (L{"results", "name & vpc_id", ""}));
  EXPECT_EQ(quillon::split_filter_list("\xe3\x80\x80"
                                       "a\xc2\x85,\tb c"),
            (L{"a", "b c"}));  // U+3000, U+0085
}

}  // namespace
