#include "client/controller_session.hpp"

#include <sys/stat.h>

#include <optional>

#include "base/errors.hpp"
#include "base/paths.hpp"
#include "client/form_encode.hpp"
#include "config/config_reader.hpp"
#include "filter/json_filter.hpp"
#include "json/json_decode.hpp"
#include "print/repr.hpp"
#include "text/unicode.hpp"

namespace quillon {
namespace {

constexpr std::string_view compound_prefix = "output(";

// The values a compound query iterates over: array elements, object member
// names, or the characters of a text. Anything else cannot be iterated.
std::vector<json::Value> compound_elements(const json::Value& results) {
  std::vector<json::Value> elements;
  switch (results.kind()) {
    case json::Kind::array:
      elements.assign(results.items().begin(), results.items().end());
      break;
    case json::Kind::object:
      for (const json::Member& m : results.members()) elements.push_back(json::Value::text(m.key()));
      break;
    case json::Kind::text: {
      std::string_view s = results.as_chars();
      for (std::size_t pos = 0; pos < s.size();) {
        std::size_t start = pos;
        unicode::next(s, pos);
        elements.push_back(json::Value::text(s.substr(start, pos - start)));
      }
      break;
    }
    default:
      throw Error(ErrorKind::type, "'" + std::string(repr::type_name(results.kind())) + "' object is not iterable");
  }
  return elements;
}

// A query's answer; one that is not JSON says where it came from.
json::Document decode_answer(Response& answer, const std::string& url) {
  try {
    return json::decode_buffer(answer.body);
  } catch (JsonDecodeError& e) {
    e.add_context("the answer of " + (answer.url.empty() ? url : answer.url) + " (HTTP " +
                  std::to_string(answer.status) + ") is not JSON");
    throw;
  }
}

std::string joined(const std::vector<std::string>& pieces, std::string_view separator) {
  std::string text;
  for (const std::string& piece : pieces) {
    if (!text.empty()) text += separator;
    text += piece;
  }
  return text;
}

// Names the file being run in traces while a query runs, the outer one again after.
class CurrentFile {
 public:
  CurrentFile(std::string& slot, std::string_view path) : slot_(slot), outer_(slot) { slot_ = base_name(path); }
  ~CurrentFile() { slot_ = std::move(outer_); }
  CurrentFile(const CurrentFile&) = delete;
  CurrentFile& operator=(const CurrentFile&) = delete;

 private:
  std::string& slot_;
  std::string outer_;
};

std::string describe_chain(const auto& chain, const std::string& again) {
  std::string text;
  for (const auto& f : chain) text += f.path + " -> ";
  return text + again;
}

}  // namespace

Response ControllerSession::post(Transport& transport, std::span<const FormField> form) {
  std::string body = encode_form(form);
  if (!log_) return transport.post(settings_.api_url, body, check_interrupt_);
  RequestLog::Post trace(*log_, file_, form);
  return transport.post(settings_.api_url, body, check_interrupt_, &trace);
}

json::Value ControllerSession::query(Transport& transport, const std::vector<FormField>& form,
                                     const std::vector<std::string>& filters, json::Arena& into) {
  Response answer = post(transport, form);
  json::Document doc = decode_answer(answer, settings_.api_url);  // takes the body over: values point into it
  interrupt_point();
  json::Value narrowed;
  try {
    narrowed = filter_results(doc.root, filters, into, FilterInput::consumed);
  } catch (Error& e) {
    e.add_context("filters \"" + joined(filters, ", ") + "\"");
    throw;
  }
  interrupt_point();
  into.absorb(std::move(doc.arena));
  return narrowed;
}

void ControllerSession::interrupt_point() {
  if (check_interrupt_) check_interrupt_();
}

json::Document ControllerSession::login() {
  const FormField form[] = {
      {"action", json::Value::text("login")},
      {"username", json::Value::text(settings_.username)},
      {"password", json::Value::text(settings_.password)},
  };
  Response answer = post(transport_, form);
  try {
    json::Document doc = json::decode_buffer(answer.body);
    if (const json::Member* found = doc.root.is_object() ? doc.root.find("CID") : nullptr) {
      doc.root = found->value;  // the CID, with the arena it points into
      return doc;
    }
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::json_decode) throw;
  }
  throw LoginRefused();
}

json::Document ControllerSession::run_query_file(const std::string& path) {
  std::vector<OpenFile> chain;
  return run_query(path, base_name(path), chain);
}

// Whatever fails names the file, and for a compound query the files that led to it.
json::Document ControllerSession::run_query(const std::string& config_file, std::string_view name,
                                            std::vector<OpenFile>& chain) {
  try {
    return run_query_unnamed(config_file, chain);
  } catch (Error& e) {
    e.add_file(std::string(name));
    throw;
  }
}

json::Document ControllerSession::run_query_unnamed(const std::string& config_file, std::vector<OpenFile>& chain) {
  // A compound query that leads back to a file already being run would nest
  // without end; stop before logging in again.
  struct stat st;
  if (::stat(config_file.c_str(), &st) == 0) {
    for (const OpenFile& f : chain)
      if (f.device == st.st_dev && f.inode == st.st_ino)
        throw Error(ErrorKind::recursion,
                    "compound queries refer back to a file already being run: " + describe_chain(chain, config_file));
  }
  if (chain.size() > max_compound_depth)
    throw Error(ErrorKind::recursion, "compound queries nest more than " + std::to_string(max_compound_depth) +
                                          " levels deep: " + describe_chain(chain, config_file));

  config::Reader config;
  config.read_path(config_file, check_interrupt_);
  const CurrentFile running(file_, config_file);
  json::Document cid = login();

  json::Document result;
  result.arena.absorb(std::move(cid.arena));
  json::Arena& arena = result.arena;
  std::vector<FormField> rdata{{"CID", cid.root}};

  std::vector<std::string> filters;
  try {
    filters = split_filter_list(config.get("default", "filters"));
  } catch (const config::ConfigError&) {
    // A file without usable filters returns its answer whole.
  }

  std::optional<std::size_t> compound_field;
  std::string compound_config_file;
  for (const std::string& option : config.options("norvane")) {
    std::string_view value = arena.copy(config.get("norvane", option));
    rdata.push_back({option, json::Value::text(value)});
    if (value.starts_with(compound_prefix) && value.ends_with(")")) {
      compound_field = rdata.size() - 1;
      compound_config_file =
          std::string(value.substr(compound_prefix.size(), value.size() - compound_prefix.size() - 1));
    }
  }

  if (!compound_field) {
    result.root = query(transport_, rdata, filters, arena);
    return result;
  }

  std::string compound_filepath = join_path(settings_.config_dir, compound_config_file);
  chain.push_back(
      {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino), config_file});
  json::Document compound_results = run_query(compound_filepath, compound_config_file, chain);
  chain.pop_back();
  arena.absorb(std::move(compound_results.arena));

  const std::vector<json::Value> elements = compound_elements(compound_results.root);
  std::vector<json::Value> narrowed(elements.size());
  if (element_runner_ && elements.size() > 1) {
    // Each element's answer in an arena of its own: arenas are not shared between threads.
    std::vector<json::Arena> arenas(elements.size());
    element_runner_(elements.size(), [&](std::size_t k, Transport& transport) {
      std::vector<FormField> form = rdata;
      form[*compound_field].value = elements[k];
      narrowed[k] = query(transport, form, filters, arenas[k]);
    });
    for (json::Arena& part : arenas) arena.absorb(std::move(part));
  } else {
    for (std::size_t k = 0; k < elements.size(); ++k) {
      rdata[*compound_field].value = elements[k];
      narrowed[k] = query(transport_, rdata, filters, arena);
    }
  }

  std::vector<json::Value> entries;
  const json::Key object_key = arena.store_key("object"), results_key = arena.store_key("results");
  for (std::size_t k = 0; k < elements.size(); ++k) {
    json::Member* members = arena.allocate_array<json::Member>(2);
    new (members) json::Member{object_key, elements[k]};
    new (members + 1) json::Member{results_key, narrowed[k]};
    entries.push_back(json::Value::object(members, 2));
  }
  result.root = arena.copy_array(entries);
  return result;
}

}  // namespace quillon
