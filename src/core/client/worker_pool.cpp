#include "client/worker_pool.hpp"

#include <chrono>
#include <system_error>

#include "base/errors.hpp"
#include "base/threads.hpp"

namespace quillon {

WorkerPool::WorkerPool(std::size_t workers, const TransportFactory& open_transport) {
  threads_.reserve(workers);
  try {
    for (std::size_t i = 0; i < workers; ++i)
      threads_.push_back(start_thread([this, transport = open_transport()]() mutable { work(std::move(transport)); }));
  } catch (const std::system_error& failure) {
    stop();
    OsError error(failure.code().value(), "--jobs");
    error.explain("cannot start worker thread " + std::to_string(threads_.size() + 1) + " of " +
                  std::to_string(workers) + ": " + failure.code().message());
    throw error;
  } catch (...) {
    stop();  // the started workers wait for work that will never come
    throw;
  }
}

void WorkerPool::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    // Whoever waits for a dropped job must not wait for ever.
    for (const auto& job : queue_) {
      job->failure = std::make_exception_ptr(JobDropped());
      job->done = true;
    }
    queue_.clear();
  }
  changed_.notify_all();
  for (std::jthread& thread : threads_)
    if (thread.joinable()) thread.join();
}

std::shared_ptr<WorkerPool::Job> WorkerPool::submit(Task task) {
  std::vector<Task> one;
  one.push_back(std::move(task));
  return enqueue(std::move(one), /*at_front=*/false).front();
}

std::vector<std::shared_ptr<WorkerPool::Job>> WorkerPool::submit_first(std::vector<Task> tasks) {
  return enqueue(std::move(tasks), /*at_front=*/true);
}

std::vector<std::shared_ptr<WorkerPool::Job>> WorkerPool::enqueue(std::vector<Task> tasks, bool at_front) {
  std::vector<std::shared_ptr<Job>> jobs;
  jobs.reserve(tasks.size());
  for (Task& task : tasks) {
    jobs.push_back(std::make_shared<Job>());
    jobs.back()->task = std::move(task);
  }
  {
    std::lock_guard lock(mutex_);
    if (stopping_) {  // nobody would ever run them
      for (const auto& job : jobs) {
        job->failure = std::make_exception_ptr(JobDropped());
        job->done = true;
      }
      return jobs;
    }
    queue_.insert(at_front ? queue_.begin() : queue_.end(), jobs.begin(), jobs.end());
  }
  changed_.notify_all();
  return jobs;
}

std::shared_ptr<WorkerPool::Job> WorkerPool::take_locked() {
  if (queue_.empty()) return nullptr;
  std::shared_ptr<Job> job = std::move(queue_.front());
  queue_.pop_front();
  return job;
}

void WorkerPool::run(const std::shared_ptr<Job>& job, Transport& transport) {
  std::exception_ptr failure;
  try {
    job->task(transport);
  } catch (...) {
    failure = std::current_exception();
  }
  {
    std::lock_guard lock(mutex_);
    job->failure = failure;
    job->done = true;
  }
  changed_.notify_all();
}

void WorkerPool::work(std::unique_ptr<Transport> transport) {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    std::shared_ptr<Job> job = take_locked();
    lock.unlock();
    run(job, *transport);
    lock.lock();
  }
}

void WorkerPool::help_until_done(const std::vector<std::shared_ptr<Job>>& jobs, Transport& mine) {
  std::unique_lock lock(mutex_);
  auto all_done = [&] {
    for (const auto& job : jobs)
      if (!job->done) return false;
    return true;
  };
  while (!all_done()) {
    if (std::shared_ptr<Job> job = stopping_ ? nullptr : take_locked()) {
      lock.unlock();
      run(job, mine);
      lock.lock();
    } else {
      changed_.wait(lock);
    }
  }
}

bool WorkerPool::wait_briefly(const Job& job) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(100), [&] { return job.done; });
}

}  // namespace quillon
