#include "client/worker_pool.hpp"

#include <chrono>

#include "base/threads.hpp"

namespace quillon {

WorkerPool::WorkerPool(std::size_t workers, TransportFactory open_transport) {
  threads_.reserve(workers);
  for (std::size_t i = 0; i < workers; ++i)
    threads_.push_back(start_thread([this, transport = open_transport()]() mutable { work(std::move(transport)); }));
}

WorkerPool::~WorkerPool() {
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
  for (std::jthread& thread : threads_) thread.join();
}

std::shared_ptr<WorkerPool::Job> WorkerPool::submit(Task task, bool urgent) {
  auto job = std::make_shared<Job>();
  job->task = std::move(task);
  {
    std::lock_guard lock(mutex_);
    if (urgent)
      queue_.push_front(job);
    else
      queue_.push_back(job);
  }
  changed_.notify_all();
  return job;
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
