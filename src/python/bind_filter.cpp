// Test hooks for both filter paths: the host path on the host's own objects,
// and the core path on values converted from them.
#include <nanobind/nanobind.h>

#include <string>
#include <vector>

#include "errors.hpp"
#include "host_filter.hpp"
#include "json_filter.hpp"

namespace nb = nanobind;
using quillon::json::Arena;
using quillon::json::Kind;
using quillon::json::Member;
using quillon::json::Value;

namespace {

PyObject* check(PyObject* result) {
  if (result == nullptr) throw nb::python_error();
  return result;
}

// Text as WTF-8; lone surrogates pass through.
std::string wtf8_of(nb::handle text) {
  if (!PyUnicode_Check(text.ptr())) throw nb::type_error("expected str");
  nb::object bytes = nb::steal(check(PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass")));
  return std::string(PyBytes_AS_STRING(bytes.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

nb::object text_of(std::string_view wtf8) {
  return nb::steal(check(PyUnicode_DecodeUTF8(wtf8.data(), static_cast<Py_ssize_t>(wtf8.size()), "surrogatepass")));
}

// A small converter of JSON-shaped host values (test data, shallow nesting).
Value core_value(nb::handle v, Arena& arena) {
  PyObject* p = v.ptr();
  if (p == Py_None) return Value::null();
  if (PyBool_Check(p)) return Value::boolean(p == Py_True);
  if (PyLong_Check(p)) {
    int overflow = 0;
    long long i = PyLong_AsLongLongAndOverflow(p, &overflow);
    if (overflow == 0) return Value::integer(i);
    return Value::big_integer(arena.copy(nb::str(v).c_str()));
  }
  if (PyFloat_Check(p)) return Value::real(PyFloat_AS_DOUBLE(p));
  if (PyUnicode_Check(p)) return Value::text(arena.copy(wtf8_of(v)));
  if (PyList_Check(p)) {
    std::vector<Value> items;
    for (nb::handle item : v) items.push_back(core_value(item, arena));
    return arena.copy_array(items);
  }
  if (PyDict_Check(p)) {
    std::vector<Member> members;
    for (auto [key, value] : nb::borrow<nb::dict>(v))
      members.push_back(Member{arena.copy(wtf8_of(key)), core_value(value, arena)});
    return arena.copy_object(members);
  }
  throw nb::type_error("not a JSON value");
}

nb::object host_value(const Value& v) {
  switch (v.kind()) {
    case Kind::null: return nb::none();
    case Kind::boolean: return nb::bool_(v.as_bool());
    case Kind::integer: return nb::int_(v.as_integer());
    case Kind::big_integer: return nb::int_(nb::str(v.as_chars().data(), v.as_chars().size()));
    case Kind::real: return nb::float_(v.as_real());
    case Kind::text: return text_of(v.as_chars());
    case Kind::array: {
      nb::list out;
      for (const Value& item : v.items()) out.append(host_value(item));
      return std::move(out);
    }
    case Kind::object: {
      nb::dict out;
      for (const Member& m : v.members()) out[text_of(m.key)] = host_value(m.value);
      return std::move(out);
    }
  }
  return nb::none();
}

// Core path: the value converted in, filtered by the core, converted back.
// The core's errors become the host's KeyError (with the key) and TypeError.
nb::object filter_native(nb::handle results, nb::handle filters) {
  Arena arena;
  Value value = core_value(results, arena);
  std::vector<std::string> expressions;
  for (nb::handle expression : filters) expressions.push_back(wtf8_of(expression));
  try {
    return host_value(quillon::filter_results(value, expressions, arena));
  } catch (const quillon::KeyLookupError& e) {
    nb::object args = nb::steal(check(PyTuple_Pack(1, text_of(e.key()).ptr())));
    PyErr_SetObject(PyExc_KeyError, args.ptr());
  } catch (const quillon::Error& e) {
    if (e.kind() != quillon::ErrorKind::type) throw;
    PyErr_SetString(PyExc_TypeError, e.what());
  }
  throw nb::python_error();
}

}  // namespace

void bind_filter(nb::module_& m) {
  quillon::host::define_filter_results(m, "filter_host");
  m.def("filter_native", &filter_native, nb::arg("results").none(), nb::arg("filters"));
  m.def("split_filter_list", [](nb::handle value) {
    nb::list out;
    for (const std::string& expression : quillon::split_filter_list(wtf8_of(value))) out.append(text_of(expression));
    return out;
  });
}
