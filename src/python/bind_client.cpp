// The controller client's pieces, exposed for tests: form encoding and the
// HTTPS transport.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/vector.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "errors.hpp"
#include "form_encode.hpp"
#include "https_transport.hpp"
#include "json_value.hpp"

namespace nb = nanobind;

namespace {

using quillon::json::Arena;
using quillon::json::Member;
using quillon::json::Value;

// Text keeps lone surrogates (WTF-8), as the core holds it.
std::string_view host_text(nb::handle s, Arena& arena) {
  nb::object bytes = nb::steal(PyUnicode_AsEncodedString(s.ptr(), "utf-8", "surrogatepass"));
  if (!bytes) throw nb::python_error();
  return arena.copy({PyBytes_AS_STRING(bytes.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr()))});
}

Value from_host(nb::handle o, Arena& arena) {
  if (o.is_none()) return Value::null();
  if (PyBool_Check(o.ptr())) return Value::boolean(o.ptr() == Py_True);
  if (PyLong_Check(o.ptr())) {
    int overflow = 0;
    long long i = PyLong_AsLongLongAndOverflow(o.ptr(), &overflow);
    if (!overflow) return Value::integer(i);
    return Value::big_integer(host_text(nb::str(o), arena));
  }
  if (PyFloat_Check(o.ptr())) return Value::real(PyFloat_AS_DOUBLE(o.ptr()));
  if (PyUnicode_Check(o.ptr())) return Value::text(host_text(o, arena));
  if (PyList_Check(o.ptr()) || PyTuple_Check(o.ptr())) {
    std::vector<Value> items;
    for (nb::handle item : o) items.push_back(from_host(item, arena));
    return arena.copy_array(items);
  }
  if (PyDict_Check(o.ptr())) {
    std::vector<Member> members;
    for (auto [k, v] : nb::borrow<nb::dict>(o)) members.push_back({host_text(k, arena), from_host(v, arena)});
    return arena.copy_object(members);
  }
  throw nb::type_error("not a JSON value");
}

// Tests see the core's failures as the host's classes they stand for.
[[noreturn]] void raise_host(const quillon::Error& e) {
  if (auto* text = dynamic_cast<const quillon::TextEncodeError*>(&e)) {
    nb::object s = nb::steal(PyUnicode_DecodeUTF8(text->text().data(), text->text().size(), "surrogatepass"));
    if (!s) throw nb::python_error();
    nb::object err = nb::handle(PyExc_UnicodeEncodeError)("utf-8", s, text->start(), text->end(),
                                                          "surrogates not allowed");
    PyErr_SetObject(PyExc_UnicodeEncodeError, err.ptr());
    throw nb::python_error();
  }
  switch (e.kind()) {
    case quillon::ErrorKind::transport: PyErr_SetString(PyExc_ConnectionError, e.what()); break;
    case quillon::ErrorKind::interrupted: PyErr_SetString(PyExc_KeyboardInterrupt, e.what()); break;
    default: PyErr_SetString(PyExc_RuntimeError, e.what()); break;
  }
  throw nb::python_error();
}

}  // namespace

void bind_client(nb::module_& m) {
  m.def(
      "encode_form",
      [](nb::handle fields) {
        // Names may hold lone surrogates too, so they are taken as WTF-8.
        Arena arena;
        std::vector<quillon::FormField> form;
        for (nb::handle pair : fields) {
          nb::tuple t = nb::borrow<nb::tuple>(nb::tuple(pair));
          if (t.size() != 2) throw nb::value_error("fields are (name, value) pairs");
          form.push_back({std::string(host_text(t[0], arena)), from_host(t[1], arena)});
        }
        try {
          return quillon::encode_form(form);
        } catch (const quillon::Error& e) {
          raise_host(e);
        }
      },
      nb::arg("fields").sig("fields: list[tuple[str, object]]"), "The form body the host's HTTP client writes for these (name, value) fields.");

  m.def(
      "post",
      [](const std::string& url, nb::handle body, std::optional<double> interrupt_after) {
        std::string form_body;
        if (nb::isinstance<nb::bytes>(body)) {
          nb::bytes b = nb::borrow<nb::bytes>(body);
          form_body.assign(b.c_str(), b.size());
        } else {
          form_body = nb::cast<std::string>(body);
        }
        std::string answer;
        {
          nb::gil_scoped_release unlocked;
          auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(interrupt_after.value_or(0)));
          auto check = [&] {
            if (interrupt_after && std::chrono::steady_clock::now() >= deadline)
              throw quillon::Error(quillon::ErrorKind::interrupted, "interrupted");
            nb::gil_scoped_acquire locked;
            if (PyErr_CheckSignals() != 0) throw nb::python_error();
          };
          try {
            answer = quillon::CurlTransport().post(url, form_body, check);
          } catch (const quillon::Error& e) {
            nb::gil_scoped_acquire locked;
            raise_host(e);
          }
        }
        return nb::bytes(answer.data(), answer.size());
      },
      nb::arg("url"), nb::arg("body"), nb::arg("interrupt_after") = nb::none(),
      "One POST of a form body; the answer's body. `interrupt_after` (seconds) aborts it as Ctrl-C would.");

  m.def("controller_api_url", [](std::string_view controller_ip) { return quillon::controller_api_url(controller_ip); },
        nb::arg("controller_ip"));
}
