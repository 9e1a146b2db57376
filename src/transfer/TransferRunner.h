#pragma once
// Starts one transfer job at a time on the job thread and owns that thread. A second
// start while a job runs is refused, whatever asks for it. The job reaches the screen
// through the host; when it ends, the runner goes idle and performs the host's end
// handler (endLoadSIM or endSaveSIM) with the job's report, so an end handler may start
// the next job at once.
//
// Start and wait from the host's main loop (or any one thread). The host must keep its
// main loop running while a job runs: the job waits there for every progress text.
#include <atomic>
#include <mutex>
#include <thread>

#include "transfer/JobHost.h"

namespace voryx::transfer {

class TransferRunner {
 public:
  explicit TransferRunner(JobHost& host) : host_(host) {}
  // Waits for a running job to end (see the class comment about the main loop).
  ~TransferRunner();
  TransferRunner(const TransferRunner&) = delete;
  TransferRunner& operator=(const TransferRunner&) = delete;

  // A read: the phonebook (loadSIM1) when tipoDisplay is 0, the SMS store (loadSMS) when
  // it is 1. False when a job runs already (or tipoDisplay names no store).
  bool loadSIM(int tipoDisplay, const JobContext& context);
  // A write: the phonebook (saveSIM) when tipoDisplay is 0, the SMS store (saveSMS)
  // otherwise. False when a job runs already.
  bool save(int tipoDisplay, const JobContext& context);
  // Unblocks a SIM with its PUK (unlockSIM); it changes the SIM, so it ends with
  // endSaveSIM. False when a job runs already.
  bool unlock(const JobContext& context);

  bool running() const { return running_.load(); }
  // Blocks until the job thread (if any) has returned. Not from within the job.
  void wait();

 private:
  using Job = JobReport (*)(JobHost&, const JobContext&);
  bool start(Job job, bool read, const JobContext& context);

  JobHost& host_;
  std::mutex mutex_;  // guards thread_ and the start/wait hand-over
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace voryx::transfer
