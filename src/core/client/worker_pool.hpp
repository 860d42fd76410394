// Threads for a parallel run (--jobs): each worker has a transport of its own
// and keeps its connection open between requests. A thread that waits for
// work it queued (a file waiting for its compound elements) runs queued jobs
// itself meanwhile, so nested work can never leave every worker waiting.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "client/https_transport.hpp"

namespace quillon {

// What a job that was dropped before it ran reports (the pool stopped).
class JobDropped : public std::exception {
 public:
  const char* what() const noexcept override { return "stopped before it ran"; }
};

class WorkerPool {
 public:
  using Task = std::function<void(Transport&)>;
  using TransportFactory = std::function<std::unique_ptr<Transport>()>;

  // One queued task: done once it ran, with what it threw.
  struct Job {
    Task task;
    bool done = false;
    std::exception_ptr failure;
  };

  // Starts the workers. When a worker's thread or transport cannot be had,
  // the ones started are stopped and the failure is thrown (a thread that
  // cannot start: OsError naming the cause).
  WorkerPool(std::size_t workers, const TransportFactory& open_transport);
  ~WorkerPool() { stop(); }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues a task at the back (a file). Once the pool has stopped, the job
  // is done at once, dropped.
  std::shared_ptr<Job> submit(Task task);
  // Queues `tasks` at the front, taken in their order (the elements of a
  // running file, which someone is already waiting for).
  std::vector<std::shared_ptr<Job>> submit_first(std::vector<Task> tasks);

  // From a worker: runs queued jobs on `mine` until all of `jobs` are done.
  void help_until_done(const std::vector<std::shared_ptr<Job>>& jobs, Transport& mine);

  // From the thread that owns the pool: waits until `job` is done or about a
  // tenth of a second has passed; whether it is done.
  bool wait_briefly(const Job& job);

  // Drops queued jobs and waits for the running ones to return; the pool
  // takes no more work.
  void stop();

 private:
  std::vector<std::shared_ptr<Job>> enqueue(std::vector<Task> tasks, bool at_front);
  void work(std::unique_ptr<Transport> transport);
  void run(const std::shared_ptr<Job>& job, Transport& transport);
  std::shared_ptr<Job> take_locked();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::shared_ptr<Job>> queue_;
  bool stopping_ = false;
  std::vector<std::jthread> threads_;
};

}  // namespace quillon
