#include "StoreFiles.h"

#include <cstring>

#include "PortrixConstants.h"
#include "VersionFile.h"

namespace {

// Reads until `count` bytes or the end of the file; CFile::Read may return fewer at once.
UINT ReadUpTo(CFile& file, char* buffer, UINT count) {
    UINT total = 0;
    while (total < count) {
        const UINT got = file.Read(buffer + total, count - total);
        if (got == 0) break;
        total += got;
    }
    return total;
}

}  // namespace

BOOL PassesExistenceTest(LPCTSTR path) {
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite)) return FALSE;
    file.Abort();  // only the open matters; a close cannot fail the test
    return TRUE;
}

StoredPicture ExamineStoredPicture(LPCTSTR path) {
    if (!PassesExistenceTest(path)) return StoredPicture::missing;
    const CTime now = CTime::GetCurrentTime();
    CFileStatus status;
    if (!CFile::GetStatus(path, status)) return StoredPicture::statusUnknown;
    const long long age = (now - status.m_mtime).GetTotalSeconds();
    return age > kFreshnessSeconds ? StoredPicture::stale : StoredPicture::fresh;
}

BOOL ReadRecordedVersion(LPCTSTR path, int imageType, int faceMode, int* version) {
    const int offset = VersionEntryOffset(imageType, faceMode);
    if (offset < 0) return FALSE;
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareExclusive)) return FALSE;
    // Bytes past the end of a short file read as no digits.
    char table[kVersionFileSize] = {};
    try {
        ReadUpTo(file, table, kVersionFileSize);
        file.Close();
    } catch (CException* error) {
        error->Delete();
        file.Abort();
        return FALSE;
    }
    *version = ParseVersionEntry(table + offset);
    return TRUE;
}

void RecordVersion(LPCTSTR path, int imageType, int faceMode, int version) {
    const int offset = VersionEntryOffset(imageType, faceMode);
    if (offset < 0) return;
    // Starting from a new table means that bytes past the end of a short existing file are
    // written back as "00001" entries.
    char table[kVersionFileSize];
    FillNewVersionTable(table);
    CFile file;
    try {
        if (file.Open(path, CFile::modeReadWrite | CFile::shareExclusive)) {
            ReadUpTo(file, table, kVersionFileSize);
            file.Close();
        }
        FormatVersionEntry(version, table + offset);
        if (!file.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive)) return;
        file.Write(table, kVersionFileSize);
        file.Close();
    } catch (CException* error) {
        error->Delete();
        file.Abort();  // an open file cannot be deleted everywhere
        ::DeleteFileA(path);
    }
}
