// The process's exit status: what a run came to. One list for the run, its
// writer, its outputs and the history it recovers.
#pragma once

enum ExitStatus {
    kExitSuccess = 0,            // every row was written (possibly none)
    kExitNotInstalled = 1,       // the product is not installed; nothing touched
    kExitOutputNotCreatable = 2, // VirusHist.csv could not be created; no log read
    kExitNoDataFolder = 3,       // the data folder could not be had, or its logs
                                 // folder path is too long; nothing touched
    kExitIncomplete = 4,         // the run ended, but rows were lost or a log file
                                 // could not be read whole
    kExitPatternTooLong = 5,     // the pattern does not fit in a path; nothing touched
    kExitRowDamaged = 6,         // a row or timeline record was written in part and
                                 // could not be cut back: the file ends in it;
                                 // nothing after it written
    kExitSystemUnreadable = 7,   // the system read from outside (a mounted drive's
                                 // hives) cannot be read, or VIRUSHIST_RECOVER cannot
                                 // be met; said on standard error; nothing touched
};
