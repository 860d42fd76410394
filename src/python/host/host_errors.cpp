#include "host/host_errors.hpp"

#include <nanobind/nanobind.h>

#include <cstring>

#include "base/errors.hpp"
#include "client/form_encode.hpp"
#include "config/config_reader.hpp"
#include "host/host_config_errors.hpp"
#include "host/host_text.hpp"

namespace nb = nanobind;

namespace quillon::host {
namespace {

void raise(PyObject* type, nb::object argument) { PyErr_SetObject(type, argument.ptr()); }

void raise_message(PyObject* type, const char* message) { raise(type, host_text(message)); }

void raise_error(const Error& error) {
  switch (error.kind()) {
    case ErrorKind::os: {
      const auto& os = static_cast<const OsError&>(error);
      // OSError(errno, strerror, filename) picks the right subclass itself.
      nb::object args =
          nb::make_tuple(os.error_number(), nb::str(std::strerror(os.error_number())), host_text_of_bytes(os.path()));
      PyErr_SetObject(PyExc_OSError, args.ptr());
      return;
    }
    case ErrorKind::default_config_dir_missing:
      return raise_message(PyExc_FileNotFoundError, error.what());
    case ErrorKind::transport:
      return raise_message(PyExc_ConnectionError, error.what());
    case ErrorKind::json_decode: {
      const auto& decode = static_cast<const JsonDecodeError&>(error);
      nb::object type = nb::module_::import_("json").attr("JSONDecodeError");
      nb::object instance = type(host_text(decode.reason()), nb::str(""), decode.position());
      PyErr_SetObject(type.ptr(), instance.ptr());
      return;
    }
    case ErrorKind::key:
      return raise(PyExc_KeyError, host_text(static_cast<const KeyLookupError&>(error).key()));
    case ErrorKind::type:
      return raise_message(PyExc_TypeError, error.what());
    case ErrorKind::encoding: {
      // UnicodeEncodeError("utf-8", text, start, end, reason), as the host's client raises it.
      const auto& encode = static_cast<const TextEncodeError&>(error);
      nb::object instance = nb::steal(PyObject_CallFunction(
          PyExc_UnicodeEncodeError, "sOnns", "utf-8", host_text(encode.text()).ptr(),
          static_cast<Py_ssize_t>(encode.start()), static_cast<Py_ssize_t>(encode.end()), "surrogates not allowed"));
      if (instance.is_valid()) PyErr_SetObject(PyExc_UnicodeEncodeError, instance.ptr());
      return;
    }
    case ErrorKind::text_decode:
      return raise_text_decode_error(static_cast<const config::TextDecodeError&>(error));
    case ErrorKind::recursion:
      return raise_message(PyExc_RecursionError, error.what());
    case ErrorKind::config:
      return raise_config_error(static_cast<const config::ConfigError&>(error));
    case ErrorKind::interrupted:
      PyErr_SetNone(PyExc_KeyboardInterrupt);
      return;
    case ErrorKind::value:
      return raise_message(PyExc_ValueError, error.what());
  }
}

}  // namespace

void register_error_translation() {
  nb::register_exception_translator([](const std::exception_ptr& p, void*) {
    try {
      std::rethrow_exception(p);
    } catch (const ExitRequest& request) {
      PyErr_SetObject(PyExc_SystemExit, nb::int_(request.status).ptr());
    } catch (const Error& error) {
      raise_error(error);
    }
  });
}

}  // namespace quillon::host
