#pragma once
// The four transfer jobs. Each runs on the job thread (TransferRunner starts it), owns
// its modem channel and its own database connection for the whole run, reaches the
// screen only through its host, and returns how it ended; the runner then performs the
// host's end handler.
//
// Reads replace the local table in one transaction, committed only once a listing
// without "ERROR" came in: a read that fails leaves the table as it was and tells the
// user. Writes walk the whole table (whatever search narrows the screen's list), stop
// at the first entry the modem refuses, and clear the marks only after a complete pass.
#include "transfer/JobHost.h"

namespace voryx::transfer {

JobOutcome loadSIM1(JobHost& host, const JobContext& context);  // phonebook into `sim`
JobOutcome loadSMS(JobHost& host, const JobContext& context);   // SMS store into `simsms`
JobOutcome saveSIM(JobHost& host, const JobContext& context);   // marked `sim` rows to the SIM
JobOutcome saveSMS(JobHost& host, const JobContext& context);   // marked `simsms` rows to the SIM

}  // namespace voryx::transfer
