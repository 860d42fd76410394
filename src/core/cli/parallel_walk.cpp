#include "cli/parallel_walk.hpp"

#include <atomic>
#include <limits>
#include <optional>

#include "base/paths.hpp"
#include "cli/file_report.hpp"
#include "cli/walk_step.hpp"
#include "client/controller_session.hpp"

namespace quillon {
namespace {

// The lowest index known to have failed, among files or among a compound
// query's elements: nothing after it is started, as one at a time.
class FirstFailure {
 public:
  void note(std::size_t i) {
    std::size_t known = first_.load();
    while (i < known && !first_.compare_exchange_weak(known, i)) {
    }
  }
  bool before(std::size_t i) const { return first_.load() < i; }

 private:
  std::atomic<std::size_t> first_{std::numeric_limits<std::size_t>::max()};
};

// Posts a compound query's elements as pool jobs ahead of the queued files;
// the file's own worker runs jobs too until its elements are done. An
// element after a failing one is not sent.
ControllerSession::ElementRunner elements_on(WorkerPool& pool, Transport& mine) {
  return [&pool, &mine](std::size_t count, const std::function<void(std::size_t, Transport&)>& query) {
    FirstFailure failed;
    std::vector<WorkerPool::Task> tasks;
    tasks.reserve(count);
    for (std::size_t k = 0; k < count; ++k)
      tasks.emplace_back([&query, &failed, k](Transport& transport) {
        if (failed.before(k)) throw JobDropped();
        try {
          query(k, transport);
        } catch (...) {
          failed.note(k);
          throw;
        }
      });
    const std::vector<std::shared_ptr<WorkerPool::Job>> parts = pool.submit_first(std::move(tasks));
    pool.help_until_done(parts, mine);
    for (const auto& part : parts)
      if (part->failure) std::rethrow_exception(part->failure);
  };
}

// What one file's run leaves for printing.
struct FileRun {
  bool read = false;                       // the file was read (its description is known)
  std::optional<std::string> description;  // with its line end
  json::Document result;
};

class ParallelWalk {
 public:
  ParallelWalk(FrontEnd& front_end, const RunSettings& settings, const WorkerPool::TransportFactory& open_transport,
               const RequestLog* log)
      : front_end_(front_end),
        settings_(settings),
        log_(log),
        files_(config_file_paths(settings)),
        runs_(files_.size()),
        jobs_(files_.size()),
        pool_(settings.jobs, open_transport) {}

  // Prints every file in walk order as its run completes.
  bool run() {
    FileReport report(front_end_, settings_);
    try {
      std::size_t started = 0;
      for (std::size_t i = 0; i < files_.size(); ++i) {
        // A slow file holds back printing, not memory: at most 2N files ahead.
        while (started < files_.size() && started < i + 2 * settings_.jobs) start(started++);
        while (!front_end_.wait_unlocked([&] { return pool_.wait_briefly(*jobs_[i]); })) front_end_.check_interrupt();
        front_end_.check_interrupt();

        FileRun done = std::move(runs_[i]);
        const std::string_view name = base_name(files_[i]);
        if (done.read) report.description(done.description);
        if (jobs_[i]->failure) {
          report.failure(name, jobs_[i]->failure);
          std::rethrow_exception(jobs_[i]->failure);
        }
        jobs_[i].reset();
        try {
          report.result(name, done.result.root);
        } catch (...) {
          report.failure(name, std::current_exception());  // as one at a time
          throw;
        }
      }
    } catch (...) {
      stopping_ = true;
      stop_workers();
      throw;
    }
    stop_workers();
    return report.differs();
  }

 private:
  void start(std::size_t i) {
    jobs_[i] = pool_.submit([this, i](Transport& transport) { run_file(i, transport); });
  }

  // On a worker. Nothing after a file known to fail is printed: its run
  // stops at the next step.
  void run_file(std::size_t i, Transport& transport) {
    const std::function<void()> cancelled = [this, i] {
      if (stopping_ || first_failed_.before(i)) throw JobDropped();
    };
    try {
      ControllerSession session(transport, settings_, cancelled);
      session.run_elements_with(elements_on(pool_, transport));
      session.log_requests_to(log_);
      runs_[i].result = run_config_file(session, files_[i], cancelled, [&](const std::optional<std::string>& text) {
        runs_[i].read = true;
        runs_[i].description = text;
      });
    } catch (...) {
      first_failed_.note(i);
      throw;
    }
  }

  // Workers may be writing notes, which need the host: it runs meanwhile.
  void stop_workers() {
    front_end_.wait_unlocked([this] {
      pool_.stop();
      return true;
    });
  }

  FrontEnd& front_end_;
  const RunSettings& settings_;
  const RequestLog* log_;
  const std::vector<std::string> files_;
  std::vector<FileRun> runs_;
  std::vector<std::shared_ptr<WorkerPool::Job>> jobs_;
  FirstFailure first_failed_;
  std::atomic<bool> stopping_{false};  // the run is over: every worker stops
  // Last: its workers use everything above and are joined before any of it goes.
  WorkerPool pool_;
};

}  // namespace

bool walk_config_dir_in_parallel(FrontEnd& front_end, const RunSettings& settings,
                                 const WorkerPool::TransportFactory& open_transport, const RequestLog* log) {
  return ParallelWalk(front_end, settings, open_transport, log).run();
}

}  // namespace quillon
