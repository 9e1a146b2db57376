#pragma once
// The phonebook and the messages through the SIM's files (records access, over a card
// reader or the modem's AT+CRSM): where they lie, the read dialogues that list them
// record by record, and the write passes (WritePass.h) that update only the marked
// records. Internal to transfer/; the jobs of TransferJobs.h choose them by the context.
#include <optional>
#include <string>
#include <vector>

#include "simfiles/SimFiles.h"
#include "store/SimEntry.h"
#include "transfer/JobHost.h"
#include "transfer/JobSession.h"

namespace voryx::transfer {

struct RecordFile {
  simfiles::FilePath path;
  simfiles::FileInfo info;
};

// The files a records job works on, found once at its start.
struct RecordBook {
  // The phonebook's EF_ADN files in location order: one on a SIM, one per set of EF_PBR on
  // a USIM (locations go on from one file into the next), each with its EF_EXT1 when the
  // SIM has one, the extension records free there and whether any is in use.
  std::vector<RecordFile> adn;
  std::vector<std::optional<RecordFile>> ext1;
  std::vector<std::vector<int>> freeExt;
  std::vector<bool> extInUse;
  RecordFile sms;                 // EF_SMS
  std::optional<std::vector<int>> freeSms;  // found at the first new message
};

// A job of a phonebook store other than the SIM phonebook over the SIM's files, which
// this program reads only for the SIM phonebook: refused before anything is opened, the
// user told (StoreMissing).
JobReport recordsLackStore(JobSession& s, Phonebook book);

// The read dialogues of runRead (ReadJobs.cpp) over the SIM's files.
JobOutcome recordsPhonebookDialogue(JobSession& s, JobReport& report, std::vector<SimEntry>& rows,
                                    int& steps);
JobOutcome recordsSmsDialogue(JobSession& s, JobReport& report, std::vector<SimEntry>& rows,
                              int& steps);

}  // namespace voryx::transfer
