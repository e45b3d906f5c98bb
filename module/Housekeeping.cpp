// The store housekeeping sweep.
#include "Housekeeping.h"

#include <cstdlib>

#include "AvatarStoreNames.h"
#include "ModuleSettings.h"
#include "StoreRoot.h"
#include "afx.h"
#include "platform/write_temporaries.h"
#include "windows.h"

namespace {

// A difference counts in whole days, truncated toward zero and taken without its sign: 10 days
// 23 hours is within the limit, 11 days beyond it, and the future counts as the past.
bool BeyondRetentionLimit(const COleDateTimeSpan& difference) {
    return std::labs(difference.GetDays()) > module_settings::kRetentionDays;
}

CString FormatSweepTime(const COleDateTime& time) {
    return time.Format(module_settings::kLastSweepFormat);
}

// The config.ini of a store seen for the first time (or held by another process right now):
// made afresh with this load's time only, and no sweep on this load. The old file goes first
// and the profile call writes the new one whole, so that a full disk or a crash leaves no
// config.ini (the next load starts again) rather than an empty one, whose missing time would
// never let a sweep run again. While another process holds the file both steps are refused.
void StartConfigFile(const CString& configPath) {
    DeleteFileA(configPath);
    const COleDateTime now = COleDateTime::GetCurrentTime();
    CString entries = CString(module_settings::kLastSweepKey) + "=" + FormatSweepTime(now);
    entries += '\0';  // the list of entries ends in a second NUL
    WritePrivateProfileSectionA(module_settings::kConfigSection, static_cast<LPCTSTR>(entries),
                                configPath);
}

bool CountsAsMissing(DWORD openError) {
    return openError == ERROR_FILE_NOT_FOUND || openError == ERROR_SHARING_VIOLATION ||
           openError == ERROR_ACCESS_DENIED;
}

}  // namespace

void RunHousekeeping() {
    const CString& storeRoot = GetStoreRoot();
    if (storeRoot.IsEmpty()) return;
    const CString configPath = storeRoot + AvatarStoreNames::kConfigFileName;
    platform::RemoveStaleWriteTemporaries(configPath);  // of writes cut short in earlier runs

    // Opening with exclusive access doubles as the existence test: a config.ini that another
    // process holds open right now counts as missing. Any other failure (no descriptor or
    // memory left, an I/O error) says nothing about the file, which then stays as it is.
    CFile config;
    CFileException why;
    if (!config.Open(configPath, CFile::modeRead | CFile::shareExclusive, &why)) {
        if (CountsAsMissing(static_cast<DWORD>(why.m_lOsError))) StartConfigFile(configPath);
        return;
    }
    try {
        config.Close();
    } catch (CFileException* error) {
        error->Delete();
    }

    char lastSweepText[module_settings::kLastSweepBufferSize];
    GetPrivateProfileStringA(module_settings::kConfigSection, module_settings::kLastSweepKey, "",
                             lastSweepText, module_settings::kLastSweepBufferSize, configPath);
    const COleDateTime now = COleDateTime::GetCurrentTime();
    COleDateTime lastSweep;
    COleDateTimeSpan difference(0.0);  // an unreadable time counts as no difference
    if (lastSweep.ParseDateTime(lastSweepText)) difference = lastSweep - now;
    if (!BeyondRetentionLimit(difference)) return;

    SweepStore(now);
    WritePrivateProfileStringA(module_settings::kConfigSection, module_settings::kLastSweepKey,
                               FormatSweepTime(now), configPath);
}

void SweepStore(COleDateTime now) {
    // Resolved once; the swept directories are opened beneath it without following a symbolic
    // link, and their files deleted by name relative to them.
    const platform::Directory store(GetStoreRoot());
    for (const AvatarStoreNames::SweptDirectory& swept : AvatarStoreNames::kSweptDirectories) {
        SweepDirectory(now,
                       platform::Directory(store, AvatarStoreNames::DirectoryName(swept.directory)),
                       swept.pattern);
    }
}

void SweepDirectory(COleDateTime now, const platform::Directory& directory, LPCTSTR pattern) {
    for (const platform::DirectoryEntry& entry : directory.Find(pattern)) {
        FILETIME createdLocal;
        if (!FileTimeToLocalFileTime(&entry.creationTime, &createdLocal)) continue;
        if (BeyondRetentionLimit(now - COleDateTime(createdLocal))) {
            // A file that cannot go (read-only, in use, a directory, replaced or written since
            // the listing) stays; the sweep goes on. A picture that goes takes the files the
            // download library keeps beside it along.
            if (directory.DeleteEntry(entry)) {
                directory.DeleteEntry(AvatarStoreNames::ValidatorsFileName(entry.name));
                directory.DeleteEntry(AvatarStoreNames::SetAsideFileName(entry.name));
            }
        }
    }
}
