#include "client/controller_client.hpp"

#include <sys/stat.h>

#include <optional>

#include "base/errors.hpp"
#include "cli/default_config_dir.hpp"
#include "client/form_encode.hpp"
#include "config/config_reader.hpp"
#include "filter/json_filter.hpp"
#include "json/json_decode.hpp"
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
      for (const json::Member& m : results.members()) elements.push_back(json::Value::text(m.key));
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
    case json::Kind::null:
      throw Error(ErrorKind::type, "'NoneType' object is not iterable");
    case json::Kind::boolean:
      throw Error(ErrorKind::type, "'bool' object is not iterable");
    case json::Kind::real:
      throw Error(ErrorKind::type, "'float' object is not iterable");
    default:
      throw Error(ErrorKind::type, "'int' object is not iterable");
  }
  return elements;
}

// A query's answer; one that is not JSON says where it came from.
json::Document decode_answer(std::string& answer, const std::string& url) {
  try {
    return json::decode_buffer(answer);
  } catch (const JsonDecodeError& e) {
    throw JsonDecodeError("the answer from " + url + " is not JSON: " + e.reason(), e.position());
  }
}

std::string describe_chain(const auto& chain, const std::string& again) {
  std::string text;
  for (const auto& f : chain) text += f.path + " -> ";
  return text + again;
}

}  // namespace

std::string ControllerClient::post(const std::string& url, const std::string& body) {
  return transport_.post(url, body, [this] { front_end_.check_interrupt(); }).body;
}

json::Document ControllerClient::get_norvane_cid(const std::string& controller_ip, const std::string& username,
                                                 const std::string& password) {
  std::string url = controller_api_url(controller_ip);
  const FormField form[] = {
      {"action", json::Value::text("login")},
      {"username", json::Value::text(username)},
      {"password", json::Value::text(password)},
  };
  std::string answer = post(url, encode_form(form));
  try {
    json::Document doc = json::decode_buffer(answer);
    if (const json::Value* found = doc.root.is_object() ? doc.root.find("CID") : nullptr) {
      doc.root = *found;  // the CID, with the arena it points into
      return doc;
    }
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::json_decode) throw;
  }
  front_end_.print("Login failed\n");
  front_end_.exit(1);
  __builtin_unreachable();  // exit() never returns
}

json::Document ControllerClient::norvane_api(const std::string& controller_ip, const std::string& username,
                                             const std::string& password, const std::string& config_dir,
                                             const std::string& config_file) {
  std::vector<OpenFile> chain;
  return run_query(controller_ip, username, password, config_dir, config_file, chain);
}

json::Document ControllerClient::run_query(const std::string& controller_ip, const std::string& username,
                                           const std::string& password, const std::string& config_dir,
                                           const std::string& config_file, std::vector<OpenFile>& chain) {
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

  std::string url = controller_api_url(controller_ip);
  config::Reader config;
  config.read_path(config_file);
  json::Document cid = get_norvane_cid(controller_ip, username, password);

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

  auto query = [&](json::Arena& into) {
    std::string answer = post(url, encode_form(rdata));
    json::Document doc = decode_answer(answer, url);  // takes the body over: values point into it
    json::Value narrowed = filter_results(doc.root, filters, into);
    into.absorb(std::move(doc.arena));
    return narrowed;
  };

  if (!compound_field) {
    result.root = query(arena);
    return result;
  }

  std::string compound_filepath = join_path(config_dir, compound_config_file);
  chain.push_back(
      {static_cast<unsigned long long>(st.st_dev), static_cast<unsigned long long>(st.st_ino), config_file});
  json::Document compound_results = run_query(controller_ip, username, password, config_dir, compound_filepath, chain);
  chain.pop_back();
  arena.absorb(std::move(compound_results.arena));

  std::vector<json::Value> entries;
  for (const json::Value& element : compound_elements(compound_results.root)) {
    rdata[*compound_field].value = element;
    json::Value narrowed = query(arena);
    json::Member* members = arena.allocate_array<json::Member>(2);
    new (members) json::Member{"object", element};
    new (members + 1) json::Member{"results", narrowed};
    entries.push_back(json::Value::object(members, 2));
  }
  result.root = arena.copy_array(entries);
  return result;
}

}  // namespace quillon
