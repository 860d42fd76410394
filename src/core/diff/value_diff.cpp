#include "diff/value_diff.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "print/repr.hpp"

namespace quillon::diff {
namespace {

using json::Kind;
using json::Value;

bool is_container(const Value& v) { return v.is_array() || v.is_object(); }

// A scalar as bytes that are equal exactly when same() says the scalars are.
std::string identity(const Value& v) {
  std::string id(1, static_cast<char>(v.kind()));
  auto put = [&id](const auto& x) { id.append(reinterpret_cast<const char*>(&x), sizeof x); };
  switch (v.kind()) {
    case Kind::boolean:
      id += v.as_bool() ? '1' : '0';
      break;
    case Kind::integer:
      put(v.as_integer());
      break;
    case Kind::real:
      // Every NaN prints as nan; -0.0 and 0.0 print apart.
      put(std::isnan(v.as_real()) ? std::uint64_t{0x7ff8000000000000u} : std::bit_cast<std::uint64_t>(v.as_real()));
      break;
    case Kind::big_integer:
    case Kind::text:
      id += v.as_chars();
      break;
    default:
      break;
  }
  return id;
}

// Index of each element by its identity, or nothing when two are alike.
using Index = std::unordered_map<std::string, std::size_t>;
std::optional<Index> index_of(std::span<const Value> items, const auto& identify) {
  Index index;
  index.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::optional<std::string> id = identify(items[i]);
    if (!id || !index.emplace(std::move(*id), i).second) return std::nullopt;
  }
  return index;
}

// The member `key` of a record as an identity, when it is a scalar.
std::optional<std::string> member_identity(const Value& record, std::string_view key) {
  if (!record.is_object()) return std::nullopt;
  const json::Member* m = record.find(key);
  if (!m || is_container(m->value)) return std::nullopt;
  return identity(m->value);
}

// The keys that may identify records, in order of preference.
std::vector<std::string_view> identifying_keys(const Value& first) {
  std::vector<std::string_view> keys{"name", "id"};
  if (first.is_object()) {
    std::vector<std::string_view> ids, names;
    for (const json::Member& m : first.members()) {
      if (m.key().ends_with("_id")) ids.push_back(m.key());
      if (m.key().ends_with("_name")) names.push_back(m.key());
    }
    // Byte order of UTF-8 is code-point order.
    std::sort(ids.begin(), ids.end());
    std::sort(names.begin(), names.end());
    keys.insert(keys.end(), ids.begin(), ids.end());
    keys.insert(keys.end(), names.begin(), names.end());
  }
  keys.push_back("object");
  return keys;
}

class Comparer {
 public:
  std::vector<Difference> differences;

  void value(const Value& before, const Value& after) {
    if (before.is_object() && after.is_object()) return object(before, after);
    if (before.is_array() && after.is_array()) return list(before.items(), after.items());
    if (!same(before, after)) emit(Difference::Change::changed, before, after);
  }

 private:
  void emit(Difference::Change change, const Value& before, const Value& after) {
    differences.push_back({change, path_, before, after});
  }
  void at_index(std::size_t i, auto&& then) {
    path_.push_back({true, i, {}});
    then();
    path_.pop_back();
  }
  void at_key(std::string_view key, auto&& then) {
    path_.push_back({false, 0, key});
    then();
    path_.pop_back();
  }

  void object(const Value& before, const Value& after) {
    std::vector<std::string_view> keys;
    for (const json::Member& m : before.members()) keys.push_back(m.key());
    for (const json::Member& m : after.members())
      if (!before.find(m.key())) keys.push_back(m.key());
    std::sort(keys.begin(), keys.end());
    for (std::string_view key : keys) {
      const json::Member* was = before.find(key);
      const json::Member* is = after.find(key);
      at_key(key, [&] {
        if (!was)
          emit(Difference::Change::added, {}, is->value);
        else if (!is)
          emit(Difference::Change::removed, was->value, {});
        else
          value(was->value, is->value);
      });
    }
  }

  void list(std::span<const Value> before, std::span<const Value> after) {
    if (before.empty() && after.empty()) return;
    if (std::optional<std::pair<Index, Index>> matched = match(before, after))
      return by_identity(before, after, matched->first, matched->second);
    const std::size_t common = std::min(before.size(), after.size());
    for (std::size_t i = 0; i < common; ++i) at_index(i, [&] { value(before[i], after[i]); });
    for (std::size_t i = common; i < after.size(); ++i)
      at_index(i, [&] { emit(Difference::Change::added, {}, after[i]); });
    for (std::size_t i = common; i < before.size(); ++i)
      at_index(i, [&] { emit(Difference::Change::removed, before[i], {}); });
  }

  // Both lists indexed by the identity of their elements, when they have one.
  static std::optional<std::pair<Index, Index>> match(std::span<const Value> before, std::span<const Value> after) {
    auto both = [&](const auto& identify) -> std::optional<std::pair<Index, Index>> {
      std::optional<Index> was = index_of(before, identify);
      if (!was) return std::nullopt;
      std::optional<Index> is = index_of(after, identify);
      if (!is) return std::nullopt;
      return std::pair{std::move(*was), std::move(*is)};
    };
    const Value& first = after.empty() ? before.front() : after.front();
    if (!is_container(first))
      return both([](const Value& v) -> std::optional<std::string> {
        if (is_container(v)) return std::nullopt;
        return identity(v);
      });
    if (!first.is_object()) return std::nullopt;
    for (std::string_view key : identifying_keys(first))
      if (auto matched = both([key](const Value& v) { return member_identity(v, key); })) return matched;
    return std::nullopt;
  }

  void by_identity(std::span<const Value> before, std::span<const Value> after, const Index& was, const Index& is) {
    const bool records = after.empty() ? before.front().is_object() : after.front().is_object();
    std::vector<bool> kept(before.size());
    // Each current element finds its saved one through the saved index.
    std::vector<std::string> ids(after.size());
    for (const auto& [id, i] : is) ids[i] = id;
    for (std::size_t i = 0; i < after.size(); ++i) {
      auto saved = was.find(ids[i]);
      at_index(i, [&] {
        if (saved == was.end()) {
          emit(Difference::Change::added, {}, after[i]);
        } else {
          kept[saved->second] = true;
          if (records) value(before[saved->second], after[i]);  // equal scalars: nothing to say
        }
      });
    }
    for (std::size_t j = 0; j < before.size(); ++j)
      if (!kept[j]) at_index(j, [&] { emit(Difference::Change::removed, before[j], {}); });
  }

  std::vector<Step> path_;
};

bool is_name(std::string_view key) {
  if (key.empty() || (key[0] >= '0' && key[0] <= '9')) return false;
  return std::all_of(key.begin(), key.end(), [](char c) {
    return c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

}  // namespace

bool same(const Value& a, const Value& b) {
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Kind::array:
      return a.size() == b.size() && std::equal(a.items().begin(), a.items().end(), b.items().begin(), same);
    case Kind::object:
      if (a.size() != b.size()) return false;
      for (const json::Member& m : a.members()) {
        const json::Member* other = b.find(m.key());
        if (!other || !same(m.value, other->value)) return false;
      }
      return true;
    default:
      return identity(a) == identity(b);
  }
}

std::vector<Difference> compare(const Value& saved, const Value& current) {
  Comparer comparer;
  comparer.value(saved, current);
  return std::move(comparer.differences);
}

std::string path_text(const std::vector<Step>& path) {
  std::string text;
  for (const Step& step : path) {
    if (step.is_index) {
      text += '[' + std::to_string(step.index) + ']';
    } else if (is_name(step.key)) {
      if (!text.empty()) text += '.';
      text += step.key;
    } else {
      text += '[';
      repr::append_text(text, step.key);
      text += ']';
    }
  }
  return text;
}

}  // namespace quillon::diff
