// The configuration walk with --jobs: files run on worker threads, up to
// twice as many ahead of the one being printed, and are printed in directory
// order exactly as the one-at-a-time walk prints them. The run ends at the
// first failing file in that order; files after it stop at their next
// request (some may already have run). Returns whether --compare found a
// difference.
#pragma once

#include "cli/front_end.hpp"
#include "client/request_log.hpp"
#include "client/run_settings.hpp"
#include "client/worker_pool.hpp"

namespace quillon {

bool walk_config_dir_in_parallel(FrontEnd& front_end, const RunSettings& settings,
                                 const WorkerPool::TransportFactory& open_transport, const RequestLog* log = nullptr);

}  // namespace quillon
