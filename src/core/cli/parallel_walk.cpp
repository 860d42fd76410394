#include "cli/parallel_walk.hpp"

#include <atomic>
#include <limits>
#include <optional>

#include "cli/default_config_dir.hpp"
#include "cli/file_report.hpp"
#include "cli/run_driver.hpp"
#include "client/controller_session.hpp"
#include "config/config_reader.hpp"

namespace quillon {
namespace {

// What one file's run leaves for printing.
struct FileRun {
  bool read = false;                       // the file was read (its description is known)
  std::optional<std::string> description;  // with its line end
  json::Document result;
};

// Posts a compound query's elements as pool jobs ahead of the queued files;
// the file's own worker runs jobs too until its elements are done.
ControllerSession::ElementRunner elements_on(WorkerPool& pool, Transport& mine) {
  return [&pool, &mine](std::size_t count, const std::function<void(std::size_t, Transport&)>& query) {
    std::vector<std::shared_ptr<WorkerPool::Job>> parts;
    parts.reserve(count);
    for (std::size_t k = 0; k < count; ++k)
      parts.push_back(pool.submit([&query, k](Transport& transport) { query(k, transport); }, /*urgent=*/true));
    pool.help_until_done(parts, mine);
    for (const auto& part : parts)
      if (part->failure) std::rethrow_exception(part->failure);
  };
}

}  // namespace

void walk_config_dir_in_parallel(FrontEnd& front_end, const RunSettings& settings,
                                 const WorkerPool::TransportFactory& open_transport, const RequestLog* log) {
  std::vector<std::string> files;
  for (const std::string& name : list_directory(settings.config_dir))
    if (std::string_view(name).ends_with(".cfg")) files.push_back(join_path(settings.config_dir, name));

  constexpr std::size_t none = std::numeric_limits<std::size_t>::max();
  std::atomic<std::size_t> first_failed{none};  // the lowest failing file known so far
  std::atomic<bool> stopping{false};            // the run is over: every worker stops
  std::vector<FileRun> runs(files.size());
  std::vector<std::shared_ptr<WorkerPool::Job>> jobs(files.size());
  const std::size_t workers = settings.jobs;
  WorkerPool pool(workers, open_transport);  // declared last: its workers finish before the rest goes

  auto note_failure = [&](std::size_t i) {
    std::size_t known = first_failed.load();
    while (i < known && !first_failed.compare_exchange_weak(known, i)) {
    }
  };
  auto start = [&](std::size_t i) {
    jobs[i] = pool.submit([&, i](Transport& transport) {
      // Nothing after a file known to fail is printed: stop reading and posting for it.
      auto cancelled = [&, i] {
        if (stopping || first_failed.load() < i) throw JobDropped();
      };
      try {
        config::Reader config;
        config.read_path(files[i], cancelled);
        runs[i].read = true;
        try {
          runs[i].description = config.get("default", "description") + "\n";
        } catch (const config::ConfigError&) {
          // A file without a readable description still runs.
        }
        ControllerSession session(transport, settings, cancelled);
        session.run_elements_with(elements_on(pool, transport));
        session.log_requests_to(log);
        runs[i].result = session.run_query_file(files[i]);
      } catch (Error& e) {
        if (e.files().empty()) e.add_file(files[i].substr(files[i].rfind('/') + 1));  // failed before the query ran
        note_failure(i);
        throw;
      } catch (...) {
        note_failure(i);
        throw;
      }
    });
  };

  FileReport report(front_end, settings.json);
  try {
    std::size_t started = 0;
    for (std::size_t i = 0; i < files.size(); ++i) {
      // A slow file holds back printing, not memory: at most 2N files ahead.
      while (started < files.size() && started < i + 2 * workers) start(started++);
      while (!front_end.wait_unlocked([&] { return pool.wait_briefly(*jobs[i]); })) front_end.check_interrupt();
      front_end.check_interrupt();

      FileRun done = std::move(runs[i]);
      const std::string_view name = std::string_view(files[i]).substr(files[i].rfind('/') + 1);
      if (done.read) report.description(done.description);
      if (jobs[i]->failure) {
        report.failure(name, jobs[i]->failure);
        std::rethrow_exception(jobs[i]->failure);
      }
      jobs[i].reset();
      report.result(name, done.result.root);
    }
  } catch (...) {
    stopping = true;
    throw;
  }
}

}  // namespace quillon
