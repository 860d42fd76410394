#include "host/host_signature.hpp"

#include <string>
#include <vector>

#include "host/host_text.hpp"

namespace nb = nanobind;

namespace quillon::host {
namespace {

[[noreturn]] void type_error(const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  throw nb::python_error();
}

// 'a', 'a' and 'b', 'a', 'b', and 'c': the host's list of missing names.
std::string name_list(const std::vector<const char*>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += names.size() == 2 ? " and " : i + 1 == names.size() ? ", and " : ", ";
    out += "'" + std::string(names[i]) + "'";
  }
  return out;
}

}  // namespace

void detail::bind_arguments(std::string_view function, const char* const* names, std::size_t count, nb::args args,
                            nb::kwargs kwargs, PyObject** bound) {
  const std::string prefix = std::string(function) + "() ";
  const std::size_t given = args.size();
  // The host binds positions, then names, then checks the count.
  for (std::size_t i = 0; i < given && i < count; ++i) bound[i] = args[i].ptr();
  for (auto [key, value] : kwargs) {
    std::string keyword = nb::str(key).c_str();
    std::size_t slot = 0;
    while (slot < count && keyword != names[slot]) ++slot;
    if (slot == count) type_error(prefix + "got an unexpected keyword argument '" + keyword + "'");
    if (bound[slot] != nullptr) type_error(prefix + "got multiple values for argument '" + keyword + "'");
    bound[slot] = value.ptr();
  }
  if (given > count)
    type_error(prefix + "takes " + std::to_string(count) + " positional argument" + (count == 1 ? "" : "s") + " but " +
               std::to_string(given) + (given == 1 ? " was" : " were") + " given");
  std::vector<const char*> missing;
  for (std::size_t slot = 0; slot < count; ++slot)
    if (bound[slot] == nullptr) missing.push_back(names[slot]);
  if (!missing.empty())
    type_error(prefix + "missing " + std::to_string(missing.size()) + " required positional argument" +
               (missing.size() == 1 ? "" : "s") + ": " + name_list(missing));
}

std::string path_bytes(nb::handle path) {
  nb::object fspath = nb::steal(PyOS_FSPath(path.ptr()));
  if (!fspath.is_valid()) throw nb::python_error();
  if (PyBytes_Check(fspath.ptr())) return std::string(PyBytes_AS_STRING(fspath.ptr()), PyBytes_GET_SIZE(fspath.ptr()));
  return text_bytes(fspath);
}

}  // namespace quillon::host
