#include "transfer/TransferRunner.h"

#include "transfer/SimState.h"
#include "transfer/TransferJobs.h"

namespace voryx::transfer {

TransferRunner::~TransferRunner() { wait(); }

bool TransferRunner::loadSIM(int tipoDisplay, const JobContext& context) {
  if (tipoDisplay == 0) return start(loadSIM1, true, context);
  if (tipoDisplay == 1) return start(loadSMS, true, context);
  return false;
}

bool TransferRunner::save(int tipoDisplay, const JobContext& context) {
  return start(tipoDisplay == 0 ? saveSIM : saveSMS, false, context);
}

bool TransferRunner::unlock(const JobContext& context) { return start(unlockSIM, false, context); }

bool TransferRunner::start(Job job, bool read, const JobContext& context) {
  std::lock_guard lock(mutex_);
  bool idle = false;
  if (!running_.compare_exchange_strong(idle, true)) return false;
  // The previous job has gone idle; its thread has at most its end handler to post.
  if (thread_.joinable()) thread_.join();
  thread_ = std::thread([this, job, read, context] {
    const JobReport report = job(host_, context);
    running_ = false;
    if (read) {
      host_.endLoadSIM(report);
    } else {
      host_.endSaveSIM(report);
    }
  });
  return true;
}

void TransferRunner::wait() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) thread_.join();
}

}  // namespace voryx::transfer
