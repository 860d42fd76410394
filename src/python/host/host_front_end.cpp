#include "host/host_front_end.hpp"
#include "host/host_text.hpp"

#include <nanobind/stl/string.h>

#include "base/errors.hpp"

namespace nb = nanobind;

namespace quillon::host {

namespace {

nb::object sys_attr(const char* name) { return nb::module_::import_("sys").attr(name); }

void write_to(nb::handle stream, std::string_view text) { stream.attr("write")(host_text(text)); }

// The byte buffer under `stream` when the stream is a plain text file that
// would encode the result back to the very bytes we have (UTF-8, no line
// buffering): a large result then skips the decode into str and the
// encode back, a tenth of the module's run on a 100 MB answer. Else None.
nb::object utf8_buffer_of(nb::handle stream) {
  // Held for the process's life: released, so no reference is dropped after the interpreter ends.
  static const nb::handle text_file = nb::object(nb::module_::import_("io").attr("TextIOWrapper")).release();
  static const nb::handle lookup = nb::object(nb::module_::import_("codecs").attr("lookup")).release();
  if (!stream.type().is(text_file) || nb::cast<bool>(stream.attr("line_buffering"))) return nb::none();
  // Both handlers encode text without surrogates as UTF-8 (the C locale gives surrogateescape).
  nb::object errors = stream.attr("errors");
  if (!nb::isinstance<nb::str>(errors) ||
      (nb::cast<std::string>(errors) != "strict" && nb::cast<std::string>(errors) != "surrogateescape"))
    return nb::none();
  if (nb::cast<std::string>(lookup(stream.attr("encoding")).attr("name")) != "utf-8") return nb::none();
  return stream.attr("buffer");
}

// Whether `text` holds a surrogate (ED A0..BF in WTF-8), or may begin one at
// its end: only the text layer may encode or refuse those.
bool holds_surrogate(std::string_view text) {
  for (std::size_t at = text.find('\xED'); at != text.npos; at = text.find('\xED', at + 1))
    if (at + 1 == text.size() || static_cast<unsigned char>(text[at + 1]) >= 0xA0) return true;
  return false;
}

}  // namespace

HostFrontEnd::HostFrontEnd(nb::object result_stream) : result_stream_(std::move(result_stream)) {}

std::vector<std::string> HostFrontEnd::arguments() {
  std::vector<std::string> args;
  nb::list argv = nb::list(sys_attr("argv"));
  for (std::size_t i = 1; i < argv.size(); ++i) args.push_back(wtf8(argv[i]));
  return args;
}

void HostFrontEnd::print(std::string_view text) { write_to(sys_attr("stdout"), text); }

void HostFrontEnd::print_description(std::string_view text) {
  try {
    print(text);
  } catch (nb::python_error& e) {
    if (!e.matches(PyExc_Exception)) throw;
  }
}

void HostFrontEnd::write_result(std::string_view text) {
  nb::object stream = result_stream_.is_none() ? sys_attr("stdout") : result_stream_;
  if (pending_.empty() && !holds_surrogate(text)) {
    if (nb::object buffer = utf8_buffer_of(stream); !buffer.is_none()) {
      stream.attr("flush")();  // what the text layer holds goes out first
      buffer.attr("write")(nb::bytes(text.data(), text.size()));
      return;
    }
  }
  // Chunks may end inside a multi-byte character; hold its bytes back.
  pending_.append(text);
  std::size_t end = pending_.size();
  std::size_t start = end;
  while (start > 0 && end - start < 4 && (static_cast<unsigned char>(pending_[start - 1]) & 0xC0) == 0x80) --start;
  if (start > 0) {
    unsigned char lead = static_cast<unsigned char>(pending_[start - 1]);
    std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    end = (end - (start - 1) >= need) ? end : start - 1;
  }
  write_to(stream, std::string_view(pending_).substr(0, end));
  pending_.erase(0, end);
}

void HostFrontEnd::flush() {
  // Any object with write() will do as a stream; flush() is optional.
  nb::object out = sys_attr("stdout");
  if (nb::hasattr(out, "flush")) out.attr("flush")();
  if (!result_stream_.is_none() && !result_stream_.is(out) && nb::hasattr(result_stream_, "flush"))
    result_stream_.attr("flush")();
}

void HostFrontEnd::write_usage(std::string_view text, bool to_error) {
  write_to(sys_attr(to_error ? "stderr" : "stdout"), text);
}

std::string HostFrontEnd::ask_line(std::string_view prompt) {
  return text_bytes(nb::module_::import_("builtins").attr("input")(host_text(prompt)));
}

std::string HostFrontEnd::ask_password(std::string_view prompt) {
  nb::object getpass = nb::module_::import_("getpass").attr("getpass");
  return text_bytes(getpass(nb::arg("prompt") = host_text(prompt)));
}

void HostFrontEnd::exit(int status) { throw ExitRequest{status}; }

void HostFrontEnd::note(std::string_view line) {
  const std::string text = escaped_line(line);
  // Worker threads and requests run without the interpreter lock.
  nb::gil_scoped_acquire gil;
  try {
    write_to(sys_attr("stderr"), text);
  } catch (nb::python_error& e) {
    // A trace that cannot be written does not end the run (Ctrl-C does).
    if (!e.matches(PyExc_Exception)) throw;
  }
}

bool HostFrontEnd::wait_unlocked(const std::function<bool()>& wait) {
  nb::gil_scoped_release released;
  return wait();
}

void HostFrontEnd::check_interrupt() {
  nb::gil_scoped_acquire gil;
  if (PyErr_CheckSignals() != 0) throw nb::python_error();
}

Response HostTransport::post(const std::string& url, const std::string& form_body,
                             const std::function<void()>& check_interrupt, RequestObserver* observer, PostKind kind,
                             const json::KeepPlan* decode) {
  nb::gil_scoped_release released;
  return curl_.post(url, form_body, check_interrupt, observer, kind, decode);
}

}  // namespace quillon::host
