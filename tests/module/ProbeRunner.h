// Runs module_load_probe in a fresh process: the library under test loads there with the
// scenario's own hive, time zone, clock offset and working directory, so its attach sequence
// really runs once per scenario.
//
// Built for Windows the probe's clock stays the system's: a load "offset seconds later" makes
// every file and folder of the scenario offset seconds older instead, which the module sees
// the same way (tests take the probe's now from ProbeNow). The time zone is the system's there
// too: the product converts with the C runtime's zone and the system's, which agree when TZ is
// not set.
#pragma once

#include <string>
#include <vector>

#include "temp_dir.h"

namespace module_test {

struct ProbeResult {
    bool ran = false;  // the probe started and ended normally
    bool loaded = false;
    unsigned loadError = 0;
    std::vector<std::string> boxes;  // texts, with real line feeds
    std::string storeRoot;
    bool classesRestored = false;
    bool classesAdopted = false;
    bool leftChain = false;
    bool unmapped = false;
    std::string output;       // everything the probe printed, for failure messages
    std::string diagnostics;  // what the library wrote to standard error
};

// The probe's clock, in seconds since 1970, for a load offset seconds after now.
long long ProbeNow(long long now, long long offset);

// The zone that a probe asked to run in zone runs in (on Windows none of its own: nullptr).
const char* ProbeTimeZone(const char* zone);

struct ProbeOptions {
    long long clockOffsetSeconds = 0;
    bool unload = false;
    std::string timeZone = "UTC0";
    long long fileSizeLimit = -1;  // bytes a file may grow to, as on a full disk; -1: no limit
    bool housekeepingWithoutDescriptors = false;  // after the load, again with no open possible
};

// A scenario: a temporary directory holding the hive (hkcu.reg) and whatever the test puts in.
class Scenario {
public:
    // Writes a hive holding the Share key, with the Path value when installPath is given.
    void WriteHive(const std::string* installPath) const;
    // Writes a hive of this text exactly.
    void WriteHiveText(const std::string& text) const;
    ProbeResult Load(const ProbeOptions& options = {}) const;

    const portrix_test::TempDir& dir() const { return m_dir; }

private:
    portrix_test::TempDir m_dir;
};

// A REGEDIT4 string, with \ and " escaped.
std::string RegString(const std::string& text);

}  // namespace module_test
