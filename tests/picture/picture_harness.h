// What the picture tests share: a probe that opens CAnimatedPicture's insides, a dialog with a
// static child to attach it to, and helpers to build GIF data in global memory.
#pragma once

#include <AnimatedPicture.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "gif_builder.h"

class PictureProbe : public CAnimatedPicture {
public:
    using CAnimatedPicture::AdvanceBlock;
    using CAnimatedPicture::BlockLength;
    using CAnimatedPicture::ClassifyBlock;
    using CAnimatedPicture::ExtractNextFrame;
    using CAnimatedPicture::ImageDescriptorField;
    using CAnimatedPicture::ResetScanPosition;
    using CAnimatedPicture::ScreenDescriptorField;
    using CAnimatedPicture::SkipToNextImage;
    using CAnimatedPicture::SubBlocksLength;

    using CAnimatedPicture::bgDC;
    using CAnimatedPicture::colorTableSize;
    using CAnimatedPicture::data;
    using CAnimatedPicture::dataSize;
    using CAnimatedPicture::frames;
    using CAnimatedPicture::height;
    using CAnimatedPicture::isGif;
    using CAnimatedPicture::memDC;
    using CAnimatedPicture::picture;
    using CAnimatedPicture::playback;
    using CAnimatedPicture::playbackThread;
    using CAnimatedPicture::scanPos;
    using CAnimatedPicture::stopEvent;
    using CAnimatedPicture::stopRequested;
    using CAnimatedPicture::surfacesReady;
    using CAnimatedPicture::width;

    // Points the scanner at bytes the way LoadMemory does after recognising a GIF.
    void ScanBytes(const std::vector<uint8_t>& bytes) {
        data = const_cast<BYTE*>(bytes.data());
        dataSize = static_cast<DWORD>(bytes.size());
        header = data;
        ReadLogicalScreen();
        ResetScanPosition();
    }
    void EndScan() { data = nullptr; }
    int CountImages() {
        ResetScanPosition();
        int n = 0;
        while (SkipToNextImage()) ++n;
        return n;
    }

    // Colour of the memory surface at (x, y) as 0x00RRGGBB.
    uint32_t MemoryPixel(int x, int y) const;
};

// A visible top-level dialog with one STATIC child; both destroyed on scope exit.
class HostWindows {
public:
    HostWindows(int childX = 10, int childY = 20, int childWidth = 16, int childHeight = 16);
    ~HostWindows();
    HostWindows(const HostWindows&) = delete;
    HostWindows& operator=(const HostWindows&) = delete;

    HWND dialog() const { return dialog_; }
    HWND child() const { return child_; }
    void DestroyChild();

private:
    HWND dialog_ = nullptr;
    HWND child_ = nullptr;
};

// A global memory block holding bytes (GMEM_MOVEABLE), freed on scope exit.
class GlobalBlock {
public:
    explicit GlobalBlock(const std::vector<uint8_t>& bytes);
    ~GlobalBlock();
    GlobalBlock(const GlobalBlock&) = delete;
    GlobalBlock& operator=(const GlobalBlock&) = delete;
    HGLOBAL get() const { return block_; }
    DWORD size() const { return size_; }
    int LockCount() const;

private:
    HGLOBAL block_ = nullptr;
    DWORD size_ = 0;
};

// A memory DC of width x height filled with one colour (0x00RRGGBB), as a host's background.
// The DC is handed out raw; Release() frees it unless the code under test deleted it.
class BackgroundDC {
public:
    BackgroundDC(int width, int height, uint32_t rgb);
    ~BackgroundDC() { Release(); }
    BackgroundDC(const BackgroundDC&) = delete;
    BackgroundDC& operator=(const BackgroundDC&) = delete;
    HDC get() const { return dc_; }
    bool Alive() const;
    void Release();

private:
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ displaced_ = nullptr;
};

// 0x00RRGGBB of a COLORREF.
inline uint32_t RgbOf(COLORREF c) {
    return (static_cast<uint32_t>(GetRValue(c)) << 16) |
           (static_cast<uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
}

// Pumps messages until done() or the timeout (generous: for loaded machines).
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000);
