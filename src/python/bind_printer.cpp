// The native printer and the literal forms, for tests and benchmarks.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <Python.h>

#include <string>
#include <vector>

#include "host_values.hpp"
#include "json_value.hpp"
#include "printer.hpp"
#include "repr.hpp"

namespace nb = nanobind;

namespace {

using quillon::json::Arena;
using quillon::json::Member;
using quillon::json::Value;

std::string_view copy_text(nb::handle text, Arena& arena) {
  nb::bytes wtf8 = nb::steal<nb::bytes>(PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass"));
  if (!wtf8.is_valid()) throw nb::python_error();
  return arena.copy(std::string_view(wtf8.c_str(), wtf8.size()));
}

// dict/list/str/int/float/bool/None to a core value.
Value to_value(nb::handle obj, Arena& arena) {
  PyObject* o = obj.ptr();
  if (o == Py_None) return Value::null();
  if (PyBool_Check(o)) return Value::boolean(o == Py_True);
  if (PyLong_Check(o)) {
    int overflow = 0;
    long long i = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (overflow == 0) {
      if (i == -1 && PyErr_Occurred()) throw nb::python_error();
      return Value::integer(i);
    }
    return Value::big_integer(copy_text(nb::str(obj), arena));
  }
  if (PyFloat_Check(o)) return Value::real(PyFloat_AsDouble(o));
  if (PyUnicode_Check(o)) return Value::text(copy_text(obj, arena));
  if (PyList_Check(o)) {
    std::vector<Value> items;
    items.reserve(static_cast<std::size_t>(PyList_GET_SIZE(o)));
    for (nb::handle item : nb::borrow<nb::list>(obj)) items.push_back(to_value(item, arena));
    return arena.copy_array(items);
  }
  if (PyDict_Check(o)) {
    std::vector<Member> members;
    for (auto [key, value] : nb::borrow<nb::dict>(obj)) {
      if (!PyUnicode_Check(key.ptr())) throw nb::type_error("object keys must be str");
      members.push_back({copy_text(key, arena), to_value(value, arena)});
    }
    return arena.copy_object(members);
  }
  throw nb::type_error("not a JSON value");
}

nb::str text_result(const std::string& s) {
  PyObject* str = PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "surrogatepass");
  if (!str) throw nb::python_error();
  return nb::steal<nb::str>(str);
}

}  // namespace

void bind_printer(nb::module_& m) {
  m.def(
      "pformat",
      [](nb::handle obj, int width) {
        Arena arena;
        Value v = to_value(obj, arena);
        return text_result(quillon::pretty_format(v, width));
      },
      nb::arg("obj").none(), nb::arg("width") = 200, "pprint.PrettyPrinter(width=width).pformat(obj), natively.");
  m.def(
      "pprint_bytes",
      [](nb::handle obj, int width) {
        Arena arena;
        Value v = to_value(obj, arena);
        std::string out;
        quillon::pretty_print(v, [&](std::string_view piece) { out += piece; }, width);
        return nb::bytes(out.data(), out.size());
      },
      nb::arg("obj").none(), nb::arg("width") = 200, "What pprint(obj) writes, final line break included, as UTF-8.");
  m.def(
      "pprint_pieces",
      [](nb::handle obj, int width) {
        Arena arena;
        Value v = to_value(obj, arena);
        nb::list pieces;
        quillon::pretty_print(v, [&](std::string_view piece) { pieces.append(nb::bytes(piece.data(), piece.size())); }, width);
        return pieces;
      },
      nb::arg("obj").none(), nb::arg("width") = 200, "The pieces the printer hands to its writer, in order.");
  m.def(
      "repr_value",
      [](nb::handle obj, bool sort_keys) {
        Arena arena;
        Value v = to_value(obj, arena);
        std::string out;
        quillon::repr::append(out, v, sort_keys);
        return text_result(out);
      },
      nb::arg("obj").none(), nb::arg("sort_keys") = false, "repr(obj), natively; sort_keys orders object entries by key.");
}
