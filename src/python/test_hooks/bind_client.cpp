// The controller client's pieces, exposed for tests: form encoding and the
// HTTPS transport.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/errors.hpp"
#include "client/form_encode.hpp"
#include "client/https_transport.hpp"
#include "filter/json_filter.hpp"
#include "filter/keep_plan.hpp"
#include "host/host_front_end.hpp"
#include "host/host_text.hpp"
#include "host/host_values.hpp"
#include "json/json_value.hpp"

namespace nb = nanobind;

namespace {

using quillon::json::Arena;

// Field names keep lone surrogates (WTF-8), as the core holds text.
std::string_view arena_text(nb::handle s, Arena& arena) { return arena.copy(quillon::host::wtf8(s)); }

struct Event {
  bool retry = false;
  quillon::Hop hop;
  std::string reason;
  int attempt = 0, retries = 0;
  double delay = 0;
};

// Called without the host lock, so it only records.
struct Recorder : quillon::RequestObserver {
  std::vector<Event> events;
  void exchanged(const quillon::Hop& hop) override { events.push_back({false, hop, {}, 0, 0, 0}); }
  void retrying(std::string_view reason, int attempt, int retries, double delay) override {
    events.push_back({true, {}, std::string(reason), attempt, retries, delay});
  }
};

struct HookTransport {
  explicit HookTransport(quillon::TransportOptions options) : transport(std::move(options)) {}
  quillon::CurlTransport transport;
  Recorder recorder;
};

quillon::Response post_with(HookTransport& self, const std::string& url, nb::handle body,
                            std::optional<double> interrupt_after, bool login = false,
                            const quillon::json::KeepPlan* decode = nullptr) {
  std::string form_body;
  if (nb::isinstance<nb::bytes>(body)) {
    nb::bytes b = nb::borrow<nb::bytes>(body);
    form_body.assign(b.c_str(), b.size());
  } else {
    form_body = nb::cast<std::string>(body);
  }
  self.recorder.events.clear();
  nb::gil_scoped_release unlocked;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                                         std::chrono::duration<double>(interrupt_after.value_or(0)));
  auto check = [&] {
    if (interrupt_after && std::chrono::steady_clock::now() >= deadline)
      throw quillon::Error(quillon::ErrorKind::interrupted, "interrupted");
    nb::gil_scoped_acquire locked;
    if (PyErr_CheckSignals() != 0) throw nb::python_error();
  };
  return self.transport.post(url, form_body, check, &self.recorder,
                             login ? quillon::PostKind::login : quillon::PostKind::query, decode);
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
          form.push_back({std::string(arena_text(t[0], arena)), quillon::host::from_host(t[1], arena)});
        }
        return quillon::encode_form(form);
      },
      nb::arg("fields").sig("fields: list[tuple[str, object]]"),
      "The form body the host's HTTP client writes for these (name, value) fields.");

  // A transport with options; `events` holds what the observer heard during
  // the last post, kept when the post fails.
  nb::class_<HookTransport>(m, "Transport")
      .def(
          "__init__",
          [](HookTransport* self, std::optional<double> connect_timeout, std::optional<double> max_time, int retries,
             double retry_delay, std::optional<std::string> cacert, bool verify, bool reuse_connections) {
            quillon::TransportOptions o;
            o.connect_timeout = connect_timeout;
            o.max_time = max_time;
            o.retries = retries;
            o.retry_delay = retry_delay;
            o.cacert = std::move(cacert);
            o.verify = verify;
            o.reuse_connections = reuse_connections;
            new (self) HookTransport(std::move(o));
          },
          nb::kw_only(), nb::arg("connect_timeout") = nb::none(), nb::arg("max_time") = nb::none(),
          nb::arg("retries") = 0, nb::arg("retry_delay") = 1.0, nb::arg("cacert") = nb::none(),
          nb::arg("verify") = false, nb::arg("reuse_connections") = false)
      .def(
          "post",
          [](HookTransport& self, const std::string& url, nb::handle body, std::optional<double> interrupt_after,
             bool login) {
            quillon::Response r = post_with(self, url, body, interrupt_after, login);
            return nb::make_tuple(nb::bytes(r.body.data(), r.body.size()), r.status, r.url);
          },
          nb::arg("url"), nb::arg("body"), nb::arg("interrupt_after") = nb::none(), nb::arg("login") = false,
          "(body, status, final url) of one post; `login`: posted as a login rather than a query.")
      .def(
          "post_decoded",
          [](HookTransport& self, const std::string& url, nb::handle body, std::vector<std::string> filters) {
            const quillon::json::KeepPlan plan = quillon::keep_plan(filters);
            quillon::Response r = post_with(self, url, body, std::nullopt, false, &plan);
            const bool streamed = r.decoding->decoding_as_it_arrives();
            quillon::json::Document doc;
            quillon::json::Value result;
            {
              nb::gil_scoped_release unlocked;
              doc = r.decoding->decode();
              result = quillon::filter_results(doc.root, filters, doc.arena, quillon::FilterInput::consumed);
            }
            return nb::make_tuple(quillon::host::to_host(result), r.status, r.url, streamed);
          },
          nb::arg("url"), nb::arg("body"), nb::arg("filters"),
          "(filtered answer, status, final url, whether it was decoded as it arrived) of one post whose answer "
          "is decoded as it comes, building what the filters read.")
      .def_prop_ro("events", [](const HookTransport& self) {
        nb::list out;
        for (const Event& e : self.recorder.events) {
          if (e.retry)
            out.append(nb::make_tuple("retrying", e.reason, e.attempt, e.retries, e.delay));
          else
            out.append(nb::make_tuple("exchanged", e.hop.method, e.hop.url, e.hop.status, e.hop.bytes, e.hop.seconds));
        }
        return out;
      });

  m.def(
      "post",
      [](const std::string& url, nb::handle body, std::optional<double> interrupt_after) {
        HookTransport transport{quillon::TransportOptions{}};
        quillon::Response r = post_with(transport, url, body, interrupt_after);
        return nb::bytes(r.body.data(), r.body.size());
      },
      nb::arg("url"), nb::arg("body"), nb::arg("interrupt_after") = nb::none(),
      "One POST of a form body; the answer's body. `interrupt_after` (seconds) aborts it as Ctrl-C would.");

  m.def(
      "controller_api_url", [](std::string_view controller_ip) { return quillon::controller_api_url(controller_ip); },
      nb::arg("controller_ip"));
}
