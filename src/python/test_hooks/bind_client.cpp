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

#include "base/errors.hpp"
#include "client/form_encode.hpp"
#include "client/https_transport.hpp"
#include "host/host_front_end.hpp"
#include "host/host_values.hpp"
#include "json/json_value.hpp"

namespace nb = nanobind;

namespace {

using quillon::json::Arena;

// Field names keep lone surrogates (WTF-8), as the core holds text.
std::string_view host_text(nb::handle s, Arena& arena) { return arena.copy(quillon::host::wtf8(s)); }

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
          form.push_back({std::string(host_text(t[0], arena)), quillon::host::from_host(t[1], arena)});
        }
        return quillon::encode_form(form);
      },
      nb::arg("fields").sig("fields: list[tuple[str, object]]"),
      "The form body the host's HTTP client writes for these (name, value) fields.");

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
          auto deadline =
              std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                     std::chrono::duration<double>(interrupt_after.value_or(0)));
          auto check = [&] {
            if (interrupt_after && std::chrono::steady_clock::now() >= deadline)
              throw quillon::Error(quillon::ErrorKind::interrupted, "interrupted");
            nb::gil_scoped_acquire locked;
            if (PyErr_CheckSignals() != 0) throw nb::python_error();
          };
          answer = quillon::CurlTransport().post(url, form_body, check);
        }
        return nb::bytes(answer.data(), answer.size());
      },
      nb::arg("url"), nb::arg("body"), nb::arg("interrupt_after") = nb::none(),
      "One POST of a form body; the answer's body. `interrupt_after` (seconds) aborts it as Ctrl-C would.");

  m.def(
      "controller_api_url", [](std::string_view controller_ip) { return quillon::controller_api_url(controller_ip); },
      nb::arg("controller_ip"));
}
