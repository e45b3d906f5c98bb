// The store housekeeping sweep.
#include "Housekeeping.h"

#include <cstdlib>

#include "StoreLayout.h"
#include "StoreRoot.h"
#include "afx.h"
#include "windows.h"

namespace {

// A difference counts in whole days, truncated toward zero and taken without its sign: 10 days
// 23 hours is within the limit, 11 days beyond it, and the future counts as the past.
bool BeyondRetentionLimit(const COleDateTimeSpan& difference) {
    return std::labs(difference.GetDays()) > store_layout::kRetentionDays;
}

CString FormatSweepTime(const COleDateTime& time) {
    return time.Format(store_layout::kLastSweepFormat);
}

// The config.ini of a store seen for the first time (or held by another process right now):
// emptied or created, then given a section with this load's time. No sweep on this load.
void StartConfigFile(const CString& configPath) {
    CFile file;
    if (file.Open(configPath, CFile::modeCreate | CFile::modeWrite)) {
        try {
            file.Close();
        } catch (CFileException* error) {
            error->Delete();
        }
    }
    const COleDateTime now = COleDateTime::GetCurrentTime();
    CString entries = CString(store_layout::kLastSweepKey) + "=" + FormatSweepTime(now);
    entries += '\0';  // the list of entries ends in a second NUL
    WritePrivateProfileSectionA(store_layout::kConfigSection, static_cast<LPCTSTR>(entries),
                                configPath);
}

}  // namespace

void RunHousekeeping() {
    const CString& storeRoot = GetStoreRoot();
    if (storeRoot.IsEmpty()) return;
    const CString configPath = storeRoot + store_layout::kConfigFileName;

    // Opening with exclusive access doubles as the existence test: a config.ini that another
    // process holds open right now counts as missing.
    CFile config;
    if (!config.Open(configPath, CFile::modeRead | CFile::shareExclusive)) {
        StartConfigFile(configPath);
        return;
    }
    try {
        config.Close();
    } catch (CFileException* error) {
        error->Delete();
    }

    char lastSweepText[store_layout::kLastSweepBufferSize];
    GetPrivateProfileStringA(store_layout::kConfigSection, store_layout::kLastSweepKey, "",
                             lastSweepText, store_layout::kLastSweepBufferSize, configPath);
    const COleDateTime now = COleDateTime::GetCurrentTime();
    COleDateTime lastSweep;
    COleDateTimeSpan difference(0.0);  // an unreadable time counts as no difference
    if (lastSweep.ParseDateTime(lastSweepText)) difference = lastSweep - now;
    if (!BeyondRetentionLimit(difference)) return;

    SweepStore(now);
    WritePrivateProfileStringA(store_layout::kConfigSection, store_layout::kLastSweepKey,
                               FormatSweepTime(now), configPath);
}

void SweepStore(COleDateTime now) {
    const CString& storeRoot = GetStoreRoot();
    for (const store_layout::SweptDirectory& swept : store_layout::kSweptDirectories) {
        const CString directory = storeRoot + swept.directory;
        SweepDirectory(now, directory, directory + swept.pattern);
    }
}

void SweepDirectory(COleDateTime now, CString directory, CString pattern) {
    CFileFind finder;
    BOOL more = finder.FindFile(pattern);
    while (more) {
        more = finder.FindNextFile();
        FILETIME created;
        FILETIME createdLocal;
        if (!finder.GetCreationTime(&created) || !FileTimeToLocalFileTime(&created, &createdLocal)) {
            continue;
        }
        const COleDateTime creation(createdLocal);
        if (BeyondRetentionLimit(now - creation)) {
            // A file that cannot go (read-only, in use, a directory) stays; the sweep goes on.
            DeleteFileA(directory + finder.GetFileName());
        }
    }
    finder.Close();
}
