// The store housekeeping: once per load, when the last sweep recorded in config.ini lies more
// than ten whole days away, pictures and version files created more than ten whole days away
// are deleted and the time of this sweep is recorded.
#pragma once

#include "afxdisp.h"
#include "platform/directory.h"

// Runs at attach, after the store root is settled; does nothing when it is empty.
void RunHousekeeping();

// Sweeps Body, Face, Up (*.gif) and SNS (*.txt), each with the same now.
void SweepStore(COleDateTime now);

// Deletes the entries of directory matching pattern ("*.gif") whose creation time (their own,
// a symbolic link's included) lies beyond the retention limit from now.
void SweepDirectory(COleDateTime now, const platform::Directory& directory, LPCTSTR pattern);
