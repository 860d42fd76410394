// Test hooks for both filter paths: the host path on the host's own objects,
// and the native path on the core's decoded values.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string_view.h>

#include <chrono>
#include <string>
#include <vector>

#include "errors.hpp"
#include "host_filter.hpp"
#include "json_decode.hpp"
#include "json_filter.hpp"

namespace nb = nanobind;
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

// The filtered value as host objects. (A local copy of the conversion, so the
// hook depends on nothing but the decoder and the filter.)
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

// The native path: the text decoded by the core and filtered by the core. The
// core's errors become the host's KeyError (with the key) and TypeError.
nb::object filter_json(std::string_view json_text, nb::handle filters) {
  std::vector<std::string> expressions;
  for (nb::handle expression : filters) expressions.push_back(wtf8_of(expression));
  try {
    quillon::json::Document document = quillon::json::decode(json_text);
    return host_value(quillon::filter_results(document.root, expressions, document.arena));
  } catch (const quillon::KeyLookupError& e) {
    nb::object args = nb::steal(check(PyTuple_Pack(1, text_of(e.key()).ptr())));
    PyErr_SetObject(PyExc_KeyError, args.ptr());
  } catch (const quillon::Error& e) {
    if (e.kind() != quillon::ErrorKind::type) throw;
    PyErr_SetString(PyExc_TypeError, e.what());
  }
  throw nb::python_error();
}

// Seconds spent decoding and filtering one answer, each measured alone.
nb::tuple time_decode_and_filter(nb::bytes data, nb::handle filters) {
  std::vector<std::string> expressions;
  for (nb::handle expression : filters) expressions.push_back(wtf8_of(expression));
  std::string_view body(data.c_str(), data.size());
  using clock = std::chrono::steady_clock;
  double decode_seconds = 0, filter_seconds = 0;
  std::size_t size = 0;
  {
    nb::gil_scoped_release unlocked;
    auto start = clock::now();
    quillon::json::Document document = quillon::json::decode(body);
    auto decoded = clock::now();
    Value result = quillon::filter_results(document.root, expressions, document.arena);
    auto filtered = clock::now();
    size = result.size();
    decode_seconds = std::chrono::duration<double>(decoded - start).count();
    filter_seconds = std::chrono::duration<double>(filtered - decoded).count();
  }
  return nb::make_tuple(decode_seconds, filter_seconds, size);
}

}  // namespace

void bind_filter(nb::module_& m) {
  quillon::host::define_filter_results(m, "filter_host");
  m.def("filter_json", &filter_json, nb::arg("json_text"), nb::arg("filters"),
        "Decodes the text and filters it, both in the core.");
  m.def("time_decode_and_filter", &time_decode_and_filter, nb::arg("data"), nb::arg("filters"),
        "(decode seconds, filter seconds, size of the result) for one answer.");
  m.def("split_filter_list", [](nb::handle value) {
    nb::list out;
    for (const std::string& expression : quillon::split_filter_list(wtf8_of(value))) out.append(text_of(expression));
    return out;
  });
}
