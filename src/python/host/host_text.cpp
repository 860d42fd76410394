// Every conversion is the host's own UTF-8 codec with the named error
// handler; a failure leaves as the host's exception.
#include "host/host_text.hpp"

namespace nb = nanobind;

namespace quillon::host {
namespace {

std::string encode(nb::handle text, const char* errors) {
  nb::object bytes = nb::steal(PyUnicode_AsEncodedString(text.ptr(), "utf-8", errors));
  if (!bytes.is_valid()) throw nb::python_error();
  return std::string(PyBytes_AS_STRING(bytes.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.ptr())));
}

nb::str decode(std::string_view bytes, const char* errors) {
  PyObject* s = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), errors);
  if (s == nullptr) throw nb::python_error();
  return nb::steal<nb::str>(s);
}

}  // namespace

std::string wtf8(nb::handle text) { return encode(text, "surrogatepass"); }

std::string checked_wtf8(nb::handle text) {
  if (!PyUnicode_Check(text.ptr())) throw nb::type_error("expected str");
  return encode(text, "surrogatepass");
}

std::string_view wtf8_view(PyObject* text, std::string& scratch, bool& in_scratch) {
  Py_ssize_t size = 0;
  const char* chars = PyUnicode_AsUTF8AndSize(text, &size);
  in_scratch = chars == nullptr;
  if (chars != nullptr) return {chars, static_cast<std::size_t>(size)};
  PyErr_Clear();
  scratch = encode(text, "surrogatepass");
  return scratch;
}

std::string text_bytes(nb::handle text) { return encode(text, "surrogateescape"); }

nb::str host_text(std::string_view wtf8) { return decode(wtf8, "surrogatepass"); }

nb::str host_text_of_bytes(std::string_view bytes) { return decode(bytes, "surrogateescape"); }

}  // namespace quillon::host
