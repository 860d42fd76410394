// Benchmark driver for the core, phase by phase.
//
//   quillon_bench answer FILE [--filter EXPR]... [--out PATH] [--repeat N] [--spare BYTES] [--json-out PATH]
//                        [--build-all]
//       Reads FILE, decodes it, narrows it with the filters and prints it the
//       way the program does (width 200) to PATH (default: standard output).
//       Only what the filters read is built, unless --build-all.
//       With --json-out, the narrowed answer is then also written as the JSON
//       line of --json to that path, and the line on standard error gains
//       "json":s and "json_bytes_out":n.
//       With --repeat N the decode/filter/print cycle runs N times in this
//       process (the output of each run is written). One JSON line per run
//       goes to standard error: {"read":s,"decode":s,"filter":s,"print":s,
//       "bytes_out":n,"arena_bytes":n,"decoded_bytes":n,"decode_cpu":s}
//       (decoded_bytes: the arena right after decoding, the answer's own bytes
//       included; decode_cpu: CPU time of all threads while decoding). --spare gives the read buffer that much
//       capacity beyond its contents (default: the decoder's padding, as the
//       program's transport gives it).
//
//   quillon_bench post-loop URL COUNT BODY [--transport]
//       COUNT form POSTs of BODY to URL, each on a new connection: the floor
//       of a whole run, which opens one TLS connection per request. Plain
//       libcurl (one easy handle per request) by default, the program's own
//       CurlTransport with --transport. Prints {"seconds":s,"requests":n}.
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "client/https_transport.hpp"
#include "filter/json_filter.hpp"
#include "filter/keep_plan.hpp"
#include "json/json_decode.hpp"
#include "json/json_value.hpp"
#include "print/json_writer.hpp"
#include "print/printer.hpp"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// CPU time of the whole process (all its threads), in seconds.
double process_cpu() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

[[noreturn]] void usage() {
  std::fputs(
      "usage: quillon_bench answer FILE [--filter EXPR]... [--out PATH] [--repeat N] [--spare BYTES]\n"
      "                            [--json-out PATH] [--build-all]\n"
      "       quillon_bench post-loop URL COUNT BODY [--transport]\n",
      stderr);
  std::exit(2);
}

// `spare` bytes of capacity beyond the contents: the program's transport
// reserves an announced body's length plus the decoder's padding.
std::string read_file(const char* path, std::size_t spare) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %s: %s\n", path, std::strerror(errno));
    std::exit(1);
  }
  in.seekg(0, std::ios::end);
  std::size_t size = static_cast<std::size_t>(in.tellg());
  std::string data;
  data.reserve(size + spare);
  data.resize(size);
  in.seekg(0);
  in.read(data.data(), static_cast<std::streamsize>(data.size()));
  return data;
}

void write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      std::perror("write");
      std::exit(1);
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

int run_answer(int argc, char** argv) {
  if (argc < 3) usage();
  const char* path = argv[2];
  std::vector<std::string> filters;
  const char* out_path = nullptr;
  const char* json_path = nullptr;
  int repeat = 1;
  bool build_all = false;
  std::size_t spare = quillon::json::padding_bytes;
  for (int i = 3; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--filter" && i + 1 < argc) {
      filters.emplace_back(argv[++i]);
    } else if (arg == "--out" && i + 1 < argc) {
      out_path = argv[++i];
    } else if (arg == "--json-out" && i + 1 < argc) {
      json_path = argv[++i];
    } else if (arg == "--spare" && i + 1 < argc) {
      spare = static_cast<std::size_t>(std::atol(argv[++i]));
    } else if (arg == "--build-all") {
      build_all = true;
    } else if (arg == "--repeat" && i + 1 < argc) {
      repeat = std::atoi(argv[++i]);
    } else {
      usage();
    }
  }
  auto open_output = [](const char* p) {
    int fd = ::open(p, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
      std::fprintf(stderr, "cannot open %s: %s\n", p, std::strerror(errno));
      std::exit(1);
    }
    return fd;
  };
  int fd = out_path != nullptr ? open_output(out_path) : 1;
  // As a run decodes: only what the filters read is built.
  const quillon::json::KeepPlan plan = build_all ? quillon::json::KeepPlan() : quillon::keep_plan(filters);
  int json_fd = json_path != nullptr ? open_output(json_path) : -1;

  for (int run = 0; run < repeat; ++run) {
    auto t0 = Clock::now();
    std::string buffer = read_file(path, spare);
    double read_s = seconds_since(t0);

    auto t1 = Clock::now();
    const double cpu1 = process_cpu();
    quillon::json::Document document = quillon::json::decode_buffer(buffer, {}, plan);
    double decode_s = seconds_since(t1);
    const double decode_cpu_s = process_cpu() - cpu1;
    const std::size_t decoded_bytes = document.arena.bytes_reserved();

    auto t2 = Clock::now();
    // As a run does: the answer is not needed once narrowed.
    quillon::json::Value result = quillon::filter_results(document.root, std::span<const std::string>(filters),
                                                          document.arena, quillon::FilterInput::consumed);
    double filter_s = seconds_since(t2);

    auto t3 = Clock::now();
    std::size_t bytes_out = 0;
    quillon::pretty_print(
        result,
        [&](std::string_view chunk) {
          bytes_out += chunk.size();
          write_all(fd, chunk);
        },
        200);
    double print_s = seconds_since(t3);

    char json_phase[96] = "";
    if (json_fd >= 0) {
      auto t4 = Clock::now();
      std::size_t json_bytes = 0;
      quillon::write_json_result_line(path, std::nullopt, result, [&](std::string_view chunk) {
        json_bytes += chunk.size();
        write_all(json_fd, chunk);
      });
      std::snprintf(json_phase, sizeof json_phase, ", \"json\": %.6f, \"json_bytes_out\": %zu", seconds_since(t4),
                    json_bytes);
    }

    std::fprintf(stderr,
                 "{\"read\": %.6f, \"decode\": %.6f, \"filter\": %.6f, \"print\": %.6f, \"bytes_out\": %zu, "
                 "\"arena_bytes\": %zu, \"decoded_bytes\": %zu, \"decode_cpu\": %.6f%s}\n",
                 read_s, decode_s, filter_s, print_s, bytes_out, document.arena.bytes_reserved(), decoded_bytes,
                 decode_cpu_s, json_phase);
  }
  if (out_path != nullptr) ::close(fd);
  if (json_fd >= 0) ::close(json_fd);
  return 0;
}

size_t discard(char*, size_t size, size_t count, void*) { return size * count; }

// One easy handle per request, so every request makes its own connection
// and TLS handshake, with verification off as the program has it.
void curl_post(const std::string& url, const std::string& body) {
  CURL* easy = curl_easy_init();
  if (easy == nullptr) throw std::runtime_error("curl_easy_init failed");
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, discard);
  CURLcode status = curl_easy_perform(easy);
  curl_easy_cleanup(easy);
  if (status != CURLE_OK) throw std::runtime_error(std::string("request failed: ") + curl_easy_strerror(status));
}

int run_post_loop(int argc, char** argv) {
  if (argc < 5) usage();
  std::string url = argv[2];
  int count = std::atoi(argv[3]);
  std::string body = argv[4];
  bool use_transport = argc > 5 && std::string_view(argv[5]) == "--transport";
  curl_global_init(CURL_GLOBAL_DEFAULT);
  quillon::CurlTransport transport;
  auto start = Clock::now();
  for (int i = 0; i < count; ++i) {
    if (use_transport) {
      transport.post(url, body, [] {});
    } else {
      curl_post(url, body);
    }
  }
  std::printf("{\"seconds\": %.6f, \"requests\": %d}\n", seconds_since(start), count);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) usage();
  std::string_view mode = argv[1];
  try {
    if (mode == "answer") return run_answer(argc, argv);
    if (mode == "post-loop") return run_post_loop(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quillon_bench: %s\n", e.what());
    return 1;
  }
  usage();
}
