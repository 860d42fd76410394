#include "host/host_errors.hpp"

#include <nanobind/nanobind.h>

#include <cstring>

#include "base/errors.hpp"
#include "client/form_encode.hpp"
#include "config/config_reader.hpp"
#include "host/host_config_errors.hpp"
#include "host/host_text.hpp"
#include "text/unicode.hpp"

namespace nb = nanobind;

namespace quillon::host {
namespace {

void raise(PyObject* type, nb::object argument) { PyErr_SetObject(type, argument.ptr()); }

void raise_message(PyObject* type, const char* message) { raise(type, host_text(message)); }

// The raised exception gets the error's context as a note (add_note, from
// host 3.11), so a traceback says which file and which step failed.
void add_where(const Error& error) {
  const std::string where = error.where();
  if (where.empty() || !PyErr_Occurred()) return;
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr && PyObject_HasAttrString(value, "add_note")) {
    // File names in it are the file system's bytes, shown with control
    // characters escaped; a note that cannot be made must not replace the
    // error itself.
    try {
      nb::object text = host_text(unicode::escape_controls(where));
      PyObject* done = PyObject_CallMethod(value, "add_note", "O", text.ptr());
      if (done == nullptr)
        PyErr_Clear();
      else
        Py_DECREF(done);
    } catch (const nb::python_error&) {
    }
  }
  PyErr_Restore(type, value, traceback);
}

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
      // msg, doc and pos as the host's decoder gives them: lineno and colno follow.
      const auto& decode = static_cast<const JsonDecodeError&>(error);
      nb::object type = json_decode_error_class();
      nb::object document = decode.document() ? host_text(*decode.document()) : nb::str("");
      nb::object instance = type(host_text(decode.reason()), document, decode.position());
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
      add_where(error);
    }
  });
}

nb::object json_decode_error_class() {
  static PyObject* cached = nullptr;  // lives as long as the interpreter
  if (cached != nullptr) return nb::borrow(cached);
  // Kept where every extension module of this interpreter finds it.
  constexpr const char* key = "quillon.JSONDecodeError";
  nb::dict shared = nb::borrow<nb::dict>(PyInterpreterState_GetDict(PyInterpreterState_Get()));
  if (!shared.contains(key)) {
    nb::dict namespace_;
    namespace_["__module__"] = "quillon.quillon";
    namespace_["__doc__"] = "The controller's answer is not JSON (a json.JSONDecodeError and an OSError).";
    nb::object json_error = nb::module_::import_("json").attr("JSONDecodeError");
    shared[key] = nb::handle(reinterpret_cast<PyObject*>(&PyType_Type))(
        "JSONDecodeError", nb::make_tuple(json_error, nb::handle(PyExc_OSError)), namespace_);
  }
  nb::object type = shared[key];
  cached = type.inc_ref().ptr();
  return type;
}

}  // namespace quillon::host
