#include "VersionFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int VersionEntryOffset(int imageType, int faceMode) {
    if (imageType < 1 || imageType > kVersionImageTypes) return -1;
    if (faceMode < 0 || faceMode >= kVersionFaceModes) return -1;
    return ((imageType - 1) * kVersionFaceModes + faceMode) * kVersionEntryLength;
}

int ParseVersionEntry(const char* entry) {
    char text[kVersionEntryLength + 1];
    std::memcpy(text, entry, kVersionEntryLength);
    text[kVersionEntryLength] = '\0';
    // Five characters hold at most "99999" or "-9999": strtol cannot overflow an int here.
    return static_cast<int>(std::strtol(text, nullptr, 10));
}

void FormatVersionEntry(int version, char* entry) {
    char text[16];  // "%05d" of any 32-bit int fits in 12 bytes
    std::snprintf(text, sizeof text, "%05d", version);
    std::memcpy(entry, text, kVersionEntryLength);
}

void FillNewVersionTable(char* table) {
    for (int i = 0; i < kVersionEntryCount; ++i)
        std::memcpy(table + i * kVersionEntryLength, kNewVersionEntry, kVersionEntryLength);
}
