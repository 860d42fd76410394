// quillon._core.ConfigReader: the configuration reader for tests and
// benchmarks. Its errors are the host's configparser exceptions; each also
// carries the native program's message as `native_message`.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <cstring>

#include "config/config_reader.hpp"
#include "host/host_config_errors.hpp"

namespace nb = nanobind;
using quillon::config::Reader;

namespace {

[[noreturn]] void raise(nb::object e, const char* native_message) {
  e.attr("native_message") = nb::str(native_message);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e.ptr())), e.ptr());
  throw nb::python_error();
}

template <class F>
auto host_errors(F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const quillon::config::ConfigError& e) {
    raise(quillon::host::config_error_object(e), e.what());
  } catch (const quillon::config::TextDecodeError& e) {
    raise(quillon::host::text_decode_error_object(e), e.what());
  } catch (const quillon::OsError& e) {
    raise(nb::handle(PyExc_OSError)(e.error_number(), std::strerror(e.error_number()), e.path()), e.what());
  } catch (const quillon::Error& e) {
    raise(nb::handle(PyExc_ValueError)(e.what()), e.what());
  }
}

}  // namespace

void bind_config(nb::module_& m) {
  nb::class_<Reader>(m, "ConfigReader")
      .def(nb::init<>())
      .def(
          "read_text",
          [](Reader& r, const std::string& text, const std::string& source) {
            host_errors([&] { r.read_text(text, source); });
          },
          nb::arg("text"), nb::arg("source"))
      .def("read_path", [](Reader& r, const std::string& path) { host_errors([&] { r.read_path(path); }); })
      .def("get", [](const Reader& r, const std::string& section,
                     const std::string& option) { return host_errors([&] { return r.get(section, option); }); })
      .def("options",
           [](const Reader& r, const std::string& section) { return host_errors([&] { return r.options(section); }); })
      .def("sections", &Reader::sections)
      .def("has_section", [](const Reader& r, const std::string& s) { return r.has_section(s); });

  m.def("read_config", [](const std::string& text, const std::string& source) {
    Reader r;
    host_errors([&] { r.read_text(text, source); });
    return r;
  });
  m.def("read_config_file", [](const std::string& path) {
    Reader r;
    host_errors([&] { r.read_path(path); });
    return r;
  });
}
