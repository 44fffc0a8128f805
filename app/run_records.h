// The records of this run of the program: each procedure's record at its end, the certificates at exit.
#pragma once

#include "calibration/run_result.h"
#include "link/channel.h"
#include "records/procedure_record.h"

// Before a procedure: starts its run's record and notes the start time.
void begin_recorded_procedure(Procedure procedure, Channel channel);

// After it: writes its record, page and index, and names the page on the console ("Record: ..."), or
// warns when something could not be written; the run goes on either way. The records go into
// records_folder(). Returns what was written.
SavedRecord end_recorded_procedure();

// At exit: the certificate of every supply that had records in this run, each named on the console.
void write_run_certificates();
