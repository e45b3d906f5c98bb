// The store housekeeping: once per load, when the last sweep recorded in config.ini lies more
// than ten whole days away, pictures and version files created more than ten whole days away
// are deleted and the time of this sweep is recorded.
#pragma once

#include "afxdisp.h"
#include "afxstr.h"

// Runs at attach, after the store root is settled; does nothing when it is empty.
void RunHousekeeping();

// Sweeps Body, Face, Up (*.gif) and SNS (*.txt), each with the same now.
void SweepStore(COleDateTime now);

// Deletes the entries matching pattern (a full search pattern) whose creation time lies beyond
// the retention limit from now; directory ends in a backslash and names where they are.
void SweepDirectory(COleDateTime now, CString directory, CString pattern);
