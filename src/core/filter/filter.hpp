// Narrowing a value with a list of filter expressions, written once for every
// store of values (the core's decoded JSON, the host's own objects).
//
// Each expression acts on one level of the value. Its selected keys are the
// pieces between "&", each trimmed; one piece makes a descent step (step into
// that key), two or more a projection step (keep just those keys). On an array
// the step acts element by element. Only a missing key is ever forgiven, and
// only where a step stores the not-found marker instead.
//
// The algorithm talks to its values through an Adapter:
//
//   using Value;        // a handle to one value; copies share the value
//   using Source;       // one expression as the filter list holds it
//   using Expression;   // a parsed expression, with:
//       bool is_descent() const;          // exactly one selected key
//       const Key& trimmed_key() const;   // the key of a descent on an array
//       const Key& whole_key() const;     // the key of a descent on an object
//       Range projection_keys() const;    // the keys a projection stores, in order
//   Expression parse(const Source&);
//   Shape shape(const Value&);
//   Value null();
//   Value marker();                       // the not-found text
//   Value lookup(const Value& container, const Key&);              // every failure escapes
//   std::optional<Value> lookup_or_missing(const Value&, const Key&);  // nullopt: key missing
//   void for_each_element(const Value& array, F&& f);
//   ArrayBuilder new_array(const Value& source_array);   // .push(Value), .finish() -> Value
//   ObjectBuilder new_object(const Value& source);       // .set(Key, Value), .finish() -> Value
//
// and to its expressions through a filter list with `std::optional<Source> next()`.
#pragma once

#include <optional>
#include <utility>

namespace quillon::filter {

// How a step sees a value: arrays first, then objects, everything else is a scalar.
enum class Shape { array, object, scalar };

// Array, one key: each element's value under the trimmed key. Nothing is
// forgiven: an element without the key ends the whole call.
template <typename Adapter, typename Expression>
typename Adapter::Value descend_array(Adapter& adapter, const typename Adapter::Value& array,
                                      const Expression& expression) {
  auto out = adapter.new_array(array);
  const auto& key = expression.trimmed_key();
  adapter.for_each_element(array,
                           [&](const typename Adapter::Value& element) { out.push(adapter.lookup(element, key)); });
  return out.finish();
}

// Array, several keys: a new object per element holding exactly the selected keys.
template <typename Adapter, typename Expression>
typename Adapter::Value project_array(Adapter& adapter, const typename Adapter::Value& array,
                                      const Expression& expression) {
  auto out = adapter.new_array(array);
  adapter.for_each_element(array, [&](const typename Adapter::Value& element) {
    auto object = adapter.new_object(element);
    for (const auto& key : expression.projection_keys()) {
      auto found = adapter.lookup_or_missing(element, key);
      object.set(key, found ? std::move(*found) : adapter.marker());
    }
    out.push(object.finish());
  });
  return out.finish();
}

// Object, one key: the bare value, or the marker. The key is the whole
// expression as given, untrimmed; a descent on an array trims it. Callers that
// pass trimmed expressions never see the difference, so it stays as it is.
template <typename Adapter, typename Expression>
typename Adapter::Value descend_object(Adapter& adapter, const typename Adapter::Value& object,
                                       const Expression& expression) {
  auto found = adapter.lookup_or_missing(object, expression.whole_key());
  return found ? std::move(*found) : adapter.marker();
}

// Object, several keys: a new object holding exactly the selected keys.
template <typename Adapter, typename Expression>
typename Adapter::Value project_object(Adapter& adapter, const typename Adapter::Value& object,
                                       const Expression& expression) {
  auto out = adapter.new_object(object);
  for (const auto& key : expression.projection_keys()) {
    auto found = adapter.lookup_or_missing(object, key);
    out.set(key, found ? std::move(*found) : adapter.marker());
  }
  return out.finish();
}

// Scalar: nothing to step into. The result is null and no later expression runs.
template <typename Adapter>
typename Adapter::Value scalar_step(Adapter& adapter) {
  return adapter.null();
}

// Applies the expressions in order, each to what the one before produced. A
// loop rather than recursion, so the length of the list costs no stack.
template <typename Adapter, typename FilterList>
typename Adapter::Value filter_results(Adapter& adapter, typename Adapter::Value results, FilterList& filters) {
  typename Adapter::Value current = std::move(results);
  while (auto source = filters.next()) {
    // Parsed before the value's kind is looked at: a bad expression fails even on a scalar.
    const auto expression = adapter.parse(*source);
    switch (adapter.shape(current)) {
      case Shape::array:
        current = expression.is_descent() ? descend_array(adapter, current, expression)
                                          : project_array(adapter, current, expression);
        break;
      case Shape::object:
        current = expression.is_descent() ? descend_object(adapter, current, expression)
                                          : project_object(adapter, current, expression);
        break;
      case Shape::scalar:
        return scalar_step(adapter);
    }
  }
  return current;
}

}  // namespace quillon::filter
