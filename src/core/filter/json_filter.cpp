#include "filter/json_filter.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "base/errors.hpp"
#include "filter/filter.hpp"
#include "filter/filter_expression.hpp"
#include "print/repr.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

using json::Kind;
using json::Member;
using json::Value;

// Static storage, so the marker needs no arena.
constexpr std::string_view not_found_marker = "FILTER_NOT_FOUND";

// What a value is, for the operator.
std::string_view kind_in_words(Kind kind) {
  switch (kind) {
    case Kind::null:
      return "null";
    case Kind::boolean:
      return "true or false";
    case Kind::integer:
    case Kind::big_integer:
    case Kind::real:
      return "a number";
    case Kind::text:
      return "a text";
    case Kind::array:
      return "a list";
    case Kind::object:
      return "an object";
  }
  return "a value";
}

// What the host says when something that is not a mapping is indexed by
// text; the operator reads which key was looked up in what.
[[noreturn]] void throw_not_subscriptable(const Value& value, std::string_view key) {
  std::string message;
  switch (value.kind()) {
    case Kind::array:
      message = "list indices must be integers or slices, not str";
      break;
    case Kind::text:
      message = "string indices must be integers, not 'str'";
      break;
    default:
      message = "'" + std::string(repr::type_name(value.kind())) + "' object is not subscriptable";
  }
  Error error(ErrorKind::type, std::move(message));
  error.explain("cannot look up " + repr::quoted(key) + " in a result that is " +
                std::string(kind_in_words(value.kind())));
  throw error;
}

class JsonExpression {
 public:
  // The keys outlive the filter list: they are copied into the arena.
  JsonExpression(std::string_view whole, json::Arena& arena) : parsed_(filter::parse_expression(whole)) {
    for (std::string_view key : parsed_.keys) distinct_.push_back(arena.store_key(key));
  }

  bool is_descent() const { return parsed_.descent; }
  const std::string_view& trimmed_key() const { return parsed_.trimmed; }
  const std::string_view& whole_key() const { return parsed_.whole; }
  const std::vector<json::Key>& projection_keys() const { return distinct_; }

 private:
  filter::Expression parsed_;
  std::vector<json::Key> distinct_;
};

class JsonAdapter {
 public:
  using Value = json::Value;
  using Source = std::string_view;
  using Expression = JsonExpression;

  JsonAdapter(json::Arena& arena, bool consume, const std::function<void()>& check_interrupt)
      : arena_(arena), consume_(consume), check_interrupt_(check_interrupt) {}

  Expression parse(std::string_view source) { return JsonExpression(source, arena_); }

  filter::Shape shape(const Value& value) const {
    if (value.is_array()) return filter::Shape::array;
    if (value.is_object()) return filter::Shape::object;
    return filter::Shape::scalar;
  }
  Value null() const { return Value::null(); }
  Value marker() const { return Value::text(not_found_marker); }

  Value lookup(const Value& container, std::string_view key) {
    if (auto found = lookup_or_missing(container, key)) return *found;
    KeyLookupError error{std::string(key)};
    error.explain("no key " + repr::quoted(key) + " in a result");
    throw error;
  }
  std::optional<Value> lookup_or_missing(const Value& container, std::string_view key) {
    if (!container.is_object()) throw_not_subscriptable(container, key);
    const std::span<const Member> members = container.members();
    // The decoder stores each key's text once, so the records of an answer
    // hold the very same key at the same place: the same address settles it.
    Hint& hint = hints_[(reinterpret_cast<std::uintptr_t>(key.data()) >> 3) % hints_.size()];
    if (hint.wanted == key.data() && hint.stored.size() == key.size() && hint.position < members.size()) {
      const Member& m = members[hint.position];
      if (m.key_handle == hint.stored) return m.value;
    }
    const Member* found = container.find(key);
    if (found == nullptr) return std::nullopt;
    hint = {key.data(), found->key_handle, static_cast<std::size_t>(found - members.data())};
    return found->value;
  }
  std::optional<Value> lookup_or_missing(const Value& container, json::Key key) {
    return lookup_or_missing(container, key.text());
  }

  template <typename F>
  void for_each_element(const Value& array, F&& f) const {
    const std::span<const Value> items = array.items();
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i % check_every == check_every - 1 && check_interrupt_) check_interrupt_();
      f(items[i]);
    }
  }

  // Builders fill a scratch vector and copy it into the arena once complete,
  // so a step that fails leaves nothing half-built behind. When the input is
  // consumed, they write into the storage of the array or object they were
  // made from instead: every container of a decoded answer is held once, the
  // steps never make two handles to one, and an element is read before its
  // slot is written.
  class ArrayBuilder {
   public:
    ArrayBuilder(json::Arena& arena, const Value& source, bool in_place) : arena_(arena) {
      if (in_place)
        reuse_ = const_cast<Value*>(source.items().data());
      else
        items_.reserve(source.size());
    }
    void push(const Value& value) {
      if (reuse_ != nullptr)
        reuse_[size_++] = value;
      else
        items_.push_back(value);
    }
    Value finish() { return reuse_ != nullptr ? Value::array(reuse_, size_) : arena_.copy_array(items_); }

   private:
    json::Arena& arena_;
    std::vector<Value> items_;
    Value* reuse_ = nullptr;
    std::size_t size_ = 0;
  };

  class ObjectBuilder {
   public:
    ObjectBuilder(json::Arena& arena, std::vector<Member>& scratch, const Value* source)
        : arena_(arena), members_(scratch), source_(source) {
      members_.clear();
    }
    // Keys arrive distinct (JsonExpression::projection_keys), so this only appends.
    void set(json::Key key, const Value& value) { members_.push_back(Member{key, value}); }
    Value finish() {
      // Looked up in, so an object; a projection can name more keys than it holds.
      if (source_ != nullptr && source_->is_object() && members_.size() <= source_->size()) {
        Member* reuse = const_cast<Member*>(source_->members().data());
        std::copy(members_.begin(), members_.end(), reuse);
        return Value::object(reuse, members_.size());
      }
      return arena_.copy_object(members_);
    }

   private:
    json::Arena& arena_;
    std::vector<Member>& members_;
    const Value* source_;
  };

  ArrayBuilder new_array(const Value& source) { return ArrayBuilder(arena_, source, consume_); }
  // One object is built at a time, so they can share one scratch vector.
  ObjectBuilder new_object(const Value& source) {
    return ObjectBuilder(arena_, member_scratch_, consume_ ? &source : nullptr);
  }

 private:
  // Where a looked-up key was found last: the key's text as asked for and as
  // stored in the object, and its position there.
  struct Hint {
    const char* wanted = nullptr;
    json::Key stored;
    std::size_t position = 0;
  };

  // Elements between two calls of check_interrupt.
  static constexpr std::size_t check_every = 4096;

  json::Arena& arena_;
  const bool consume_;
  const std::function<void()>& check_interrupt_;
  std::vector<Member> member_scratch_;
  std::array<Hint, 16> hints_{};
};

class FilterSpan {
 public:
  explicit FilterSpan(std::span<const std::string> filters) : filters_(filters) {}
  std::optional<std::string_view> next() {
    if (next_ == filters_.size()) return std::nullopt;
    return std::string_view(filters_[next_++]);
  }
  // The expression last handed out.
  std::string_view current() const { return next_ == 0 ? std::string_view() : filters_[next_ - 1]; }

 private:
  std::span<const std::string> filters_;
  std::size_t next_ = 0;
};

}  // namespace

json::Value filter_results(json::Value results, std::span<const std::string> filters, json::Arena& arena,
                           FilterInput input, const std::function<void()>& check_interrupt) {
  JsonAdapter adapter(arena, input == FilterInput::consumed, check_interrupt);
  FilterSpan list(filters);
  try {
    return filter::filter_results(adapter, results, list);
  } catch (Error& e) {
    e.add_context("step \"" + std::string(list.current()) + "\"");
    throw;
  }
}

std::vector<std::string> split_filter_list(std::string_view filters_value) {
  std::vector<std::string> out;
  filter::for_each_piece(filters_value, ',', [&](std::string_view piece) { out.emplace_back(unicode::strip(piece)); });
  return out;
}

}  // namespace quillon
