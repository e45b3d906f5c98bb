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

BOOL IdentifyStoreFile(LPCTSTR path, StoreFileIdentity* identity) {
    // One status query of the name itself: a search of its directory would read every entry of
    // it, beside the download service's renames into that same directory.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (path == nullptr || !::GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return FALSE;
    identity->written = data.ftLastWriteTime;
    identity->created = data.ftCreationTime;
    identity->length = data.nFileSizeLow;
    return TRUE;
}

BOOL SameStoreFile(const StoreFileIdentity& one, const StoreFileIdentity& other) {
    const auto same = [](const FILETIME& a, const FILETIME& b) {
        return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
    };
    return same(one.written, other.written) && same(one.created, other.created) &&
                   one.length == other.length
               ? TRUE
               : FALSE;
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
    char entry[kVersionEntryLength];
    FormatVersionEntry(version, entry);
    // Starting from a new table means that bytes past the end of a short (or new) file are
    // written as "00001" entries.
    char table[kVersionFileSize];
    FillNewVersionTable(table);
    CFile file;
    try {
        if (!file.Open(path, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite |
                                 CFile::shareExclusive))
            return;
        const UINT held = ReadUpTo(file, table, kVersionFileSize);
        if (held < kVersionFileSize) {
            file.Seek(static_cast<LONG>(held), CFile::begin);
            file.Write(table + held, kVersionFileSize - held);
        } else if (file.GetLength() > kVersionFileSize) {
            file.SetLength(kVersionFileSize);
        }
        if (std::memcmp(table + offset, entry, kVersionEntryLength) != 0) {
            file.Seek(offset, CFile::begin);
            file.Write(&kVersionEntryBeingWritten, 1);
            file.Write(entry + 1, kVersionEntryLength - 1);
            file.Seek(offset, CFile::begin);
            file.Write(entry, 1);
        }
        file.Close();
    } catch (CException* error) {
        error->Delete();
        file.Abort();  // an open file cannot be deleted everywhere
        ::DeleteFileA(path);
    }
}
