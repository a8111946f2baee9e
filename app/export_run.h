// The export run: from the command line to the last row of the history file.
#pragma once

#include "app/exit_status.h"

// Runs the export with the program's arguments and returns its exit status.
int ExportVirusHistory(int argc, char** argv);
