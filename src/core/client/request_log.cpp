#include "client/request_log.hpp"

#include <vector>

#include "text/seconds_text.hpp"
#include "text/unicode.hpp"

namespace quillon {

std::string masked_form(std::span<const FormField> form) {
  std::vector<FormField> shown(form.begin(), form.end());
  for (FormField& field : shown)
    if (field.name == "password" || field.name == "CID") field.value = json::Value::text("***");
  try {
    std::string body = encode_form(shown);
    // "***" is sent percent-encoded; shown as it reads.
    for (std::size_t at; (at = body.find("%2A%2A%2A")) != std::string::npos;) body.replace(at, 9, "***");
    return body;
  } catch (const Error&) {
    return "(a form that cannot be encoded)";
  }
}

RequestLog::Post::Post(const RequestLog& log, std::string_view file, std::span<const FormField> form)
    : log_(log), file_(unicode::escape_controls(file)) {
  if (log_.verbose_) shown_form_ = masked_form(form);
}

void RequestLog::Post::exchanged(const Hop& hop) {
  if (!log_.verbose_) return;
  double since_start = std::chrono::duration<double>(std::chrono::steady_clock::now() - log_.start_).count();
  std::string line = "[" + timing_text(since_start) + "] " + (file_.empty() ? "login" : file_) + ": " + hop.method +
                     " " + unicode::escape_controls(hop.url);
  if (hop.method == "POST") line += " " + shown_form_;
  line += hop.status != 0 ? " -> HTTP " + std::to_string(hop.status) : " -> no answer";
  line += ", " + std::to_string(hop.bytes) + " bytes, " + timing_text(hop.seconds) + "\n";
  log_.sink_(line);
}

void RequestLog::Post::retrying(std::string_view reason, int attempt, int retries, double delay) {
  std::string line = "quillon: " + (file_.empty() ? std::string("login") : file_) + ": " +
                     unicode::escape_controls(reason) + "; retrying in " + seconds_text(delay) + " (retry " +
                     std::to_string(attempt) + " of " + std::to_string(retries) + ")\n";
  log_.sink_(line);
}

}  // namespace quillon
