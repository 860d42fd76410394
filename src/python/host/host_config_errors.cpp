#include "host/host_config_errors.hpp"

#include <Python.h>

#include "host/host_text.hpp"

namespace nb = nanobind;

namespace quillon::host {
namespace {

// Text from the reader is UTF-8, except a source path that may carry the
// raw bytes of a file name: those come back as the host decodes file names.
nb::object text(const std::string& s) { return host_text_of_bytes(s); }

nb::object number(std::size_t n) { return nb::int_(n); }

}  // namespace

nb::object config_error_object(const config::ConfigError& error) {
  using config::ErrorType;
  nb::module_ cp = nb::module_::import_("configparser");
  const auto& f = error.fields();
  switch (error.type()) {
    case ErrorType::missing_section_header:
      return cp.attr("MissingSectionHeaderError")(text(f.source), number(f.lineno), text(f.line));
    case ErrorType::duplicate_section:
      return cp.attr("DuplicateSectionError")(text(f.section), text(f.source), number(f.lineno));
    case ErrorType::duplicate_option:
      return cp.attr("DuplicateOptionError")(text(f.section), text(f.option), text(f.source), number(f.lineno));
    case ErrorType::parsing: {
      // Built as the host reader builds it: one append per bad line, of its repr.
      nb::object e = cp.attr("ParsingError")(text(f.source));
      for (const auto& [lineno, line] : f.bad_lines) e.attr("append")(number(lineno), nb::repr(text(line)));
      return e;
    }
    case ErrorType::no_section:
      return cp.attr("NoSectionError")(text(f.section));
    case ErrorType::no_option:
      return cp.attr("NoOptionError")(text(f.option), text(f.section));
    case ErrorType::interpolation_syntax:
      return cp.attr("InterpolationSyntaxError")(text(f.option), text(f.section), text(f.msg));
    case ErrorType::interpolation_missing_option:
      return cp.attr("InterpolationMissingOptionError")(text(f.option), text(f.section), text(f.rawval),
                                                        text(f.reference));
    case ErrorType::interpolation_depth:
      return cp.attr("InterpolationDepthError")(text(f.option), text(f.section), text(f.rawval));
  }
  return cp.attr("Error")(nb::str(error.what()));
}

nb::object text_decode_error_object(const config::TextDecodeError& error) {
  const std::string& b = error.bytes();
  PyObject* o = PyUnicodeDecodeError_Create("utf-8", b.data(), static_cast<Py_ssize_t>(b.size()),
                                            static_cast<Py_ssize_t>(error.start()),
                                            static_cast<Py_ssize_t>(error.end()), error.reason().c_str());
  if (o == nullptr) throw nb::python_error();
  return nb::steal(o);
}

void raise_config_error(const config::ConfigError& error) {
  nb::object e = config_error_object(error);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e.ptr())), e.ptr());
}

void raise_text_decode_error(const config::TextDecodeError& error) {
  nb::object e = text_decode_error_object(error);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(e.ptr())), e.ptr());
}

}  // namespace quillon::host
