// One transfer per picture among the processes that share a store.
//
// A transfer locks one byte of the lock file in its picture's directory for as long as it
// runs; the byte is picked by the picture's name and by whether the transfer is a refresh
// (TransferLockLayout.h). Another process about to fetch the same picture finds the byte locked
// and waits for that transfer instead of making its own request: an unconditional fetch waits
// only for another unconditional one, a refresh for either. The locks (open-file-description
// locks, LockFileEx) are dropped by the system when their holder ends, however it ends.
#pragma once

#include <cstdint>
#include <string_view>

#include "StoreFiles.h"

namespace nimbrel {

class TransferLock {
public:
    enum class State {
        taken,       // this transfer may run
        busy,        // another process's transfer of the picture runs
        unavailable  // no lock file can be had (read-only directory, say): run without one
    };

    // Tries to lock the picture `name` of `directory`.
    State TryTake(const PictureDirectory& directory, std::string_view name, bool refresh);
    // After busy: true while that other transfer still runs.
    bool OtherStillRuns() const;
    // Unlocks (also done by the destructor).
    void Release() { m_file.Reset(); }

private:
    UniqueFile m_file;
    uint64_t m_fetchByte = 0;
    bool m_refresh = false;
};

}  // namespace nimbrel
