// The per-user version file (its name is in the store map): a table of 30 entries
// of 5 ASCII characters (three image-type rows of ten face-mode columns), nothing else.
#pragma once

constexpr int kVersionEntryLength = 5;
constexpr int kVersionFaceModes = 10;  // columns: face modes 0 to 9
constexpr int kVersionImageTypes = 3;  // rows: image types 1 to 3
constexpr int kVersionEntryCount = kVersionFaceModes * kVersionImageTypes;
constexpr int kVersionFileSize = kVersionEntryCount * kVersionEntryLength;  // 150 bytes
constexpr char kNewVersionEntry[] = "00001";
// An entry is rewritten in place in three writes: this mark over its first character, then its
// last four characters, then its first. The mark ends the number before any digit, so an entry
// caught between the writes (by a reader, or on the disk after a crash) reads as 0, no version,
// and the picture is asked for again; it never reads as a mix of the old and the new digits.
constexpr char kVersionEntryBeingWritten = '*';

// Byte offset of the entry for an image type and face mode, or -1 when the pair has no entry.
int VersionEntryOffset(int imageType, int faceMode);

// The entry at `entry` (5 bytes, not terminated) read as a signed decimal number: leading
// white space skipped, an optional sign and the digits after it; no digits read as 0.
int ParseVersionEntry(const char* entry);

// Writes the first five characters of `version` formatted with "%05d" to `entry`
// (no terminator): 12 -> "00012", -5 -> "-0005", 123456 -> "12345".
void FormatVersionEntry(int version, char* entry);

// Fills a table of kVersionFileSize bytes with kNewVersionEntry copies.
void FillNewVersionTable(char* table);
