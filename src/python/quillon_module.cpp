// quillon.quillon: the program as a module of the Python host. Loading it
// creates the printer pp and the five functions; nothing else runs.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include "base/paths.hpp"
#include "cli/default_config_dir.hpp"
#include "cli/run_driver.hpp"
#include "client/controller_session.hpp"
#include "host/host_errors.hpp"
#include "host/host_filter.hpp"
#include "host/host_front_end.hpp"
#include "host/host_signature.hpp"
#include "host/host_text.hpp"
#include "host/host_values.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace {

PyObject* this_module = nullptr;  // modules live until the interpreter ends

nb::object module_global(const char* name) {
  return nb::borrow(PyDict_GetItemString(PyModule_GetDict(this_module), name));
}

std::string own_file() {
  nb::object file = module_global("__file__");
  if (!file.is_valid()) throw nb::attribute_error("module has no __file__");
  return quillon::host::text_bytes(file);
}

// Results go to the stream the printer pp holds, as pp.pprint would write them.
nb::object result_stream() {
  nb::object pp = module_global("pp");
  if (pp.is_valid() && nb::hasattr(pp, "_stream")) return pp.attr("_stream");
  return nb::none();
}

std::string program_name() {
  nb::list argv = nb::list(nb::module_::import_("sys").attr("argv"));
  std::string arg0 = argv.size() > 0 ? quillon::host::wtf8(argv[0]) : std::string();
  return std::string(quillon::base_name(arg0));
}

// Runs one call of the controller session as the module's functions do: a
// refused login prints "Login failed" and ends the run with status 1.
template <class Call>
nb::object with_session(const quillon::RunSettings& settings, Call&& call) {
  quillon::host::HostFrontEnd front_end;
  quillon::host::HostTransport transport;
  quillon::ControllerSession session(transport, settings, [&] { front_end.check_interrupt(); });
  try {
    return quillon::host::to_host(call(session).root);
  } catch (const quillon::LoginRefused&) {
    front_end.print("Login failed\n");
    front_end.exit(1);
  }
}

// A text parameter: the host's str, lone surrogates kept (the form encoder
// refuses them as the host's client does).
std::string text_argument(std::string_view function, const char* name, nb::handle value) {
  if (!PyUnicode_Check(value.ptr())) {
    std::string message =
        std::string(function) + "() argument '" + name + "' must be str, not " + Py_TYPE(value.ptr())->tp_name;
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw nb::python_error();
  }
  return quillon::host::wtf8(value);
}

}  // namespace

NB_MODULE(quillon, m) {
  this_module = m.ptr();
  quillon::host::register_error_translation();

  m.attr("pp") = nb::module_::import_("pprint").attr("PrettyPrinter")("width"_a = 200);

  // The functions bind their arguments as host functions do: by position or
  // by name, with the host's wording for a wrong call; paths may be str,
  // bytes or any os.PathLike.
  m.def(
      "get_norvane_cid",
      [](nb::args args, nb::kwargs kwargs) {
        constexpr std::string_view function = "get_norvane_cid";
        static constexpr std::array names{"controller_ip", "username", "password"};
        auto [controller_ip, username, password] = quillon::host::bind_arguments(function, names, args, kwargs);
        auto settings = quillon::RunSettings::for_controller(text_argument(function, names[0], controller_ip),
                                                             text_argument(function, names[1], username),
                                                             text_argument(function, names[2], password));
        return with_session(settings, [](quillon::ControllerSession& session) { return session.login(); });
      },
      "Logs in to the controller and returns the session identifier (CID).");

  quillon::host::define_filter_results(m, "filter_results");

  m.def(
      "norvane_api",
      [](nb::args args, nb::kwargs kwargs) {
        constexpr std::string_view function = "norvane_api";
        static constexpr std::array names{"controller_ip", "username", "password", "config_dir", "config_file"};
        auto [controller_ip, username, password, config_dir, config_file] =
            quillon::host::bind_arguments(function, names, args, kwargs);
        auto settings = quillon::RunSettings::for_controller(
            text_argument(function, names[0], controller_ip), text_argument(function, names[1], username),
            text_argument(function, names[2], password), quillon::host::path_bytes(config_dir));
        const std::string path = quillon::host::path_bytes(config_file);
        return with_session(settings,
                            [&](quillon::ControllerSession& session) { return session.run_query_file(path); });
      },
      "Runs one configuration file against the controller and returns its narrowed answer.");

  m.def(
      "get_default_config_dir",
      [](nb::args args, nb::kwargs kwargs) {
        quillon::host::bind_arguments<0>("get_default_config_dir", {}, args, kwargs);
        return quillon::host::host_text(quillon::default_config_dir(own_file()));
      },
      "The configuration directory beside the module.");

  m.def("main", [](nb::args args, nb::kwargs kwargs) {
    quillon::host::bind_arguments<0>("main", {}, args, kwargs);
    quillon::host::HostFrontEnd front_end(result_stream());
    quillon::host::HostTransport transport;
    quillon::run_main(front_end, transport, program_name(), own_file());
  });
}
