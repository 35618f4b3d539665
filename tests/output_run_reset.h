// The state a run of the output conversion starts from: the run, its
// configuration and tables, the transfer reader, the output loop and the
// element table set back, the message counts cleared and the messages kept
// off the console.  Shared by the output loop tests, its benchmark and its
// fuzz target.
#pragma once

#include "elements/element_table.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "transfer/output_dispatch.h"
#include "transfer/transfer_reader.h"

inline void resetOutputRun() {
  resetRunState();
  resetRunConfiguration();
  resetAssignTables();
  resetTransferReader();
  resetOutputDispatch();
  freeTable();
  mfaResetRun();
  mfaSetMessageLevel(0);
}
