#pragma once
// The four transfer jobs. Each runs on the job thread (TransferRunner starts it), owns
// its modem channel and its own database connection for the whole run, reaches the
// screen only through its host, and returns its report; the runner then performs the
// host's end handler with it.
//
// Reads replace the local table in one transaction, committed only once a listing that
// ended in OK came in: a read that fails leaves the table as it was and tells the user;
// a table with changes not yet written is replaced only when the context allows it.
// Writes walk the whole table (whatever search narrows the screen's list) and stop at the
// first entry the modem does not take; the marks of the entries the SIM took are
// cleared (the rest keep theirs), only where the row is still as the pass read it.
#include <string>

#include "transfer/JobHost.h"

namespace voryx::transfer {

JobReport loadSIM1(JobHost& host, const JobContext& context);  // phonebook into `sim`
JobReport loadSMS(JobHost& host, const JobContext& context);   // SMS store into `simsms`
JobReport saveSIM(JobHost& host, const JobContext& context);   // marked `sim` rows to the SIM
JobReport saveSMS(JobHost& host, const JobContext& context);   // marked `simsms` rows to the SIM

// What the shell and the screen say after an SMS write that kept `count` old copies
// (JobReport::oldKept): they stay on the SIM, and the next write deletes them.
std::string oldCopiesKeptMessage(int count);
// What the shell and the screen say after a list was copied onto another SIM that held
// entries (messages) beside it (JobReport::leftovers), now shown: "" when it held none.
std::string leftoversMessage(const JobReport& report);

}  // namespace voryx::transfer
