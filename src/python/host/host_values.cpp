#include "host/host_values.hpp"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/host_text.hpp"
#include "json/json_decode.hpp"
#include "json/json_tree_builder.hpp"

namespace nb = nanobind;

namespace quillon::host {
namespace {

using json::Kind;
using json::Value;

PyObject* check(PyObject* result) {
  if (result == nullptr) throw nb::python_error();
  return result;
}

nb::object owned(PyObject* result) { return nb::steal(check(result)); }

// The host refuses to convert integers of more than a few thousand digits to
// or from text (a limit that can be lowered to 640). Pieces this short always
// convert; longer integers are split and joined with arithmetic, which has
// no such limit.
constexpr std::size_t digits_per_piece = 600;
constexpr std::size_t bits_per_piece = 1900;  // 2**1900 < 10**600

nb::object power_of_ten(std::size_t exponent) {
  nb::object ten = owned(PyLong_FromLong(10));
  nb::object e = owned(PyLong_FromSize_t(exponent));
  return owned(PyNumber_Power(ten.ptr(), e.ptr(), Py_None));
}

// A non-negative integer from its decimal digits.
nb::object integer_from_digits(std::string_view digits) {
  if (digits.size() <= digits_per_piece) {
    std::string s(digits);
    return owned(PyLong_FromString(s.c_str(), nullptr, 10));
  }
  std::size_t low_size = digits.size() / 2;
  nb::object high = integer_from_digits(digits.substr(0, digits.size() - low_size));
  nb::object low = integer_from_digits(digits.substr(digits.size() - low_size));
  nb::object scaled = owned(PyNumber_Multiply(high.ptr(), power_of_ten(low_size).ptr()));
  return owned(PyNumber_Add(scaled.ptr(), low.ptr()));
}

nb::object big_integer(std::string_view text) {
  bool negative = !text.empty() && text[0] == '-';
  nb::object magnitude = integer_from_digits(text.substr(negative ? 1 : 0));
  return negative ? owned(PyNumber_Negative(magnitude.ptr())) : magnitude;
}

// Appends the decimal digits of a non-negative exact int, zero-padded to
// `width` digits when `width` is not 0.
void append_digits(PyObject* n, std::string& out, std::size_t width) {
  nb::object bit_length = owned(PyObject_CallMethod(n, "bit_length", nullptr));
  std::size_t bits = PyLong_AsSize_t(bit_length.ptr());
  if (bits == static_cast<std::size_t>(-1) && PyErr_Occurred()) throw nb::python_error();
  if (bits <= bits_per_piece) {
    nb::object text = owned(PyObject_Str(n));
    Py_ssize_t size = 0;
    const char* chars = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (chars == nullptr) throw nb::python_error();
    if (width > static_cast<std::size_t>(size)) out.append(width - static_cast<std::size_t>(size), '0');
    out.append(chars, static_cast<std::size_t>(size));
    return;
  }
  std::size_t low_width = static_cast<std::size_t>(static_cast<double>(bits) * 0.30102999566 / 2);
  nb::object parts = owned(PyNumber_Divmod(n, power_of_ten(low_width).ptr()));
  append_digits(PyTuple_GET_ITEM(parts.ptr(), 0), out, width > low_width ? width - low_width : 0);
  append_digits(PyTuple_GET_ITEM(parts.ptr(), 1), out, low_width);
}

// A new reference to the host form of `v`; containers come back empty
// (lists at their final size, items unset) for the caller to fill.
PyObject* new_host_value(const Value& v) {
  switch (v.kind()) {
    case Kind::null:
      Py_RETURN_NONE;
    case Kind::boolean:
      if (v.as_bool()) Py_RETURN_TRUE;
      Py_RETURN_FALSE;
    case Kind::integer:
      return check(PyLong_FromLongLong(v.as_integer()));
    case Kind::big_integer:
      return big_integer(v.as_chars()).release().ptr();
    case Kind::real:
      return check(PyFloat_FromDouble(v.as_real()));
    case Kind::text:
      return host_text(v.as_chars()).release().ptr();
    case Kind::array:
      return check(PyList_New(static_cast<Py_ssize_t>(v.size())));
    case Kind::object:
      return check(PyDict_New());
  }
  throw nb::type_error("unknown JSON value kind");
}

bool is_container(const Value& v) { return v.is_array() || v.is_object(); }

[[noreturn]] void not_json(PyObject* o) {
  std::string message = "Object of type ";
  message += Py_TYPE(o)->tp_name;
  message += " is not a JSON value";
  throw nb::type_error(message.c_str());
}

}  // namespace

nb::object to_host(const Value& root) {
  nb::object result = nb::steal(new_host_value(root));
  if (!is_container(root) || root.size() == 0) return result;

  struct Open {
    const Value* value;
    std::size_t next;
    PyObject* object;  // borrowed: its parent (or `result`) holds it
  };
  std::vector<Open> open{{&root, 0, result.ptr()}};
  // Objects in an answer repeat the same keys; one host str serves them all.
  std::unordered_map<std::string_view, nb::object> keys;
  while (!open.empty()) {
    Open& top = open.back();
    if (top.next == top.value->size()) {
      open.pop_back();
      continue;
    }
    std::size_t i = top.next++;
    PyObject* container = top.object;
    const Value* child;
    PyObject* item;
    if (top.value->is_array()) {
      child = &top.value->items()[i];
      item = new_host_value(*child);
      PyList_SET_ITEM(container, static_cast<Py_ssize_t>(i), item);
    } else {
      const json::Member& m = top.value->members()[i];
      child = &m.value;
      auto [slot, added] = keys.try_emplace(m.key());
      if (added) slot->second = host_text(m.key());
      nb::object value = nb::steal(new_host_value(*child));
      if (PyDict_SetItem(container, slot->second.ptr(), value.ptr()) != 0) throw nb::python_error();
      item = value.ptr();
    }
    if (is_container(*child) && child->size() != 0) open.push_back({child, 0, item});
  }
  return result;
}

Value from_host(nb::handle root, json::Arena& arena) {
  json::TreeBuilder builder(arena);
  struct Open {
    PyObject* object;
    bool dict;
    Py_ssize_t next;  // list index or dict position
  };
  std::vector<Open> open;
  std::string scratch;

  auto add = [&](PyObject* o) {
    if (o == Py_None) return builder.add(Value::null());
    if (PyBool_Check(o)) return builder.add(Value::boolean(o == Py_True));
    if (PyLong_Check(o)) {
      int overflow = 0;
      long long i = PyLong_AsLongLongAndOverflow(o, &overflow);
      if (overflow == 0) {
        if (i == -1 && PyErr_Occurred()) throw nb::python_error();
        return builder.add(Value::integer(i));
      }
      nb::object exact = owned(PyNumber_Index(o));
      std::string digits;
      if (overflow < 0) {
        digits = "-";
        exact = owned(PyNumber_Negative(exact.ptr()));
      }
      append_digits(exact.ptr(), digits, 0);
      return builder.add(Value::big_integer(arena.copy(digits)));
    }
    if (PyFloat_Check(o)) return builder.add(Value::real(PyFloat_AS_DOUBLE(o)));
    if (PyUnicode_Check(o)) {
      bool in_scratch;
      return builder.add(Value::text(arena.copy(wtf8_view(o, scratch, in_scratch))));
    }
    bool dict = PyDict_Check(o);
    if (!dict && !PyList_Check(o)) not_json(o);
    // Past this depth a value is either absurdly deep or contains itself.
    if (open.size() >= json::max_depth)
      throw nb::value_error("JSON value nested deeper than 10000 levels (or containing itself)");
    open.push_back({o, dict, 0});
    if (dict)
      builder.open_object();
    else
      builder.open_array();
  };

  add(root.ptr());
  while (!open.empty()) {
    Open& top = open.back();
    if (top.dict) {
      PyObject *key, *value;
      if (!PyDict_Next(top.object, &top.next, &key, &value)) {
        open.pop_back();
        builder.close();
        continue;
      }
      if (!PyUnicode_Check(key)) {
        std::string message = "keys must be str, not ";
        message += Py_TYPE(key)->tp_name;
        throw nb::type_error(message.c_str());
      }
      // The key must outlive the value's conversion; the cached UTF-8 does
      // (the dict holds the key), the scratch copy does not.
      bool in_scratch;
      std::string_view k = wtf8_view(key, scratch, in_scratch);
      builder.key(in_scratch ? arena.copy(k) : k);
      add(value);
    } else {
      if (top.next >= PyList_GET_SIZE(top.object)) {
        open.pop_back();
        builder.close();
        continue;
      }
      add(PyList_GET_ITEM(top.object, top.next++));
    }
  }
  return builder.root();
}

}  // namespace quillon::host
