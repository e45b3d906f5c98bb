// GIF87a/GIF89a layout as the block scanner reads it: offsets, sizes and bounded readers.
// Pure byte work: nothing here touches a window, a device context or the heap.
#pragma once

#include <windows.h>

namespace gif {

constexpr DWORD kHeaderSize = 6;            // "GIF" + version
constexpr DWORD kScreenDescriptorSize = 7;  // width, height, packed, background, aspect
constexpr DWORD kPrologueSize = 13;         // header + logical screen descriptor
constexpr DWORD kScreenPackedOffset = 10;   // packed byte, counted from the start of the data

constexpr BYTE kExtensionIntroducer = 0x21;
constexpr BYTE kImageSeparator = 0x2C;
constexpr BYTE kTrailer = 0x3B;
constexpr BYTE kApplicationLabel = 0xFF;
constexpr BYTE kCommentLabel = 0xFE;
constexpr BYTE kGraphicControlLabel = 0xF9;
constexpr BYTE kPlainTextLabel = 0x01;

// Fixed parts in front of each block's sub-block chain (marker bytes included).
constexpr DWORD kApplicationFixed = 14;  // 0x21 0xFF, size 11, 11 bytes
constexpr DWORD kCommentFixed = 2;       // 0x21 0xFE
constexpr DWORD kExtensionFixed = 2;     // 0x21 and the label of any other extension
// 0x21 0xF9, then sub-blocks: usually one of 4 bytes (packed, delay, transparent index).
constexpr DWORD kGraphicControlFixed = 2;
constexpr DWORD kGceDataSizeOffset = 2;     // size of the first sub-block, where the fields are
constexpr DWORD kPlainTextFixed = 15;       // 0x21 0x01, size 12, 12 bytes
constexpr DWORD kImageDescriptorSize = 10;  // 0x2C, left, top, width, height, packed
constexpr DWORD kImageFixed = 11;           // descriptor + LZW minimum code size

// Field offsets inside a graphic control extension and an image descriptor.
constexpr DWORD kGcePackedOffset = 3;
constexpr DWORD kGceDelayOffset = 4;
constexpr DWORD kImageLeftOffset = 1;
constexpr DWORD kImageTopOffset = 3;
constexpr DWORD kImageWidthOffset = 5;
constexpr DWORD kImageHeightOffset = 7;
constexpr DWORD kImagePackedOffset = 9;

// True when [offset, offset + length) lies inside size bytes; immune to wrap-around.
inline bool Fits(DWORD size, DWORD offset, DWORD length) {
    return static_cast<ULONGLONG>(offset) + length <= size;
}

inline int ReadU16(const BYTE* p) {
    return p[0] | (p[1] << 8);
}

// Bytes of a colour table announced with size exponent n: 3 * 2^(n+1).
inline int ColorTableBytes(int exponent) {
    return 3 << ((exponent & 7) + 1);
}

// The data starts with "GIF87a" or "GIF89a".
bool IsGifSignature(const BYTE* data, DWORD size);

// Packed byte of the logical screen descriptor and of an image descriptor, one field each.
int ScreenPackedField(BYTE packed, int selector);
int ImagePackedField(BYTE packed, int selector);

// Length of the sub-block chain starting at offset, terminator included; 0 when the chain
// runs off the end of the data (or past what an int can count).
int ChainLength(const BYTE* data, DWORD size, DWORD offset);

}  // namespace gif
