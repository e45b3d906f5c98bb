// CAnimatedPicture: a static control that shows one picture drawn over its parent's
// background, and plays an animated GIF frame by frame on a thread of its own.
//
// Threads. Every operation runs on the thread that owns the window, except PlayFrames, which
// runs on the playback thread (at most one per control). The two meet through a small shared
// block (PlaybackShared, reference counted so that a playback thread can outlive the control):
//   - one lock, held around every drawing step of the thread, around OnPaint's copy and around
//     ApplyBackground's exchange of the surfaces, so a surface is never drawn with while it is
//     replaced or copied; the thread reads memDC and bgDC afresh under it, so playback carries
//     on over new surfaces without a restart;
//   - a generation number, advanced under the lock by every StopPlayback and by the
//     destructor. The thread touches the object only under the lock and only while the
//     generation it was started with is current, so a thread that outlives StopPlayback's wait
//     uses no released frame, surface or handle, and ends instead of playing on;
//   - the thread handle is taken out of playbackThread under the lock by whichever side closes
//     it, so it is closed exactly once.
// The stop event is handed to the shared block when the control goes, and closed with it.
#pragma once

#include <memory>

#include <afxwin.h>
#include <olectl.h>
#include <windows.h>

// Block kinds of a GIF file, from its marker byte and, after 0x21, its label byte.
// BlockOtherExtension is an extension of a label not listed here: a reader skips it by its
// sub-blocks, as it does application and comment extensions.
enum GifBlockKind {
    BlockUnknown = 0,
    BlockApplication = 1,
    BlockComment = 2,
    BlockGraphicControl = 3,
    BlockPlainText = 4,
    BlockImage = 5,
    BlockTrailer = 6,
    BlockOtherExtension = 7,
};

// One frame of an animated GIF.
struct FrameRecord {
    IPicture* picture;  // the decoded one-image GIF; one reference owned
    int cx;             // image width in pixels
    int cy;             // image height in pixels
    int x;              // left position on the logical screen
    int y;              // top position on the logical screen
    int delay;          // hundredths of a second as stored; -1 without a graphic control extension
    int disposal;       // disposal method 0..7; 0 without a graphic control extension
};

// The growable array of frames: append (capacity doubles, starting at one), remove all
// (capacity stays), free the storage.
class CFrameArray {
public:
    CFrameArray() = default;
    ~CFrameArray() { FreeStorage(); }
    CFrameArray(const CFrameArray&) = delete;
    CFrameArray& operator=(const CFrameArray&) = delete;

    int GetSize() const { return count; }
    int GetCapacity() const { return capacity; }
    FrameRecord& operator[](int index) { return records[index]; }
    const FrameRecord& operator[](int index) const { return records[index]; }

    // FALSE when the storage cannot grow; the array is unchanged then.
    BOOL Add(const FrameRecord& record);
    void RemoveAll() { count = 0; }
    void FreeStorage();

private:
    FrameRecord* records = nullptr;
    int count = 0;
    int capacity = 0;
};

struct PlaybackShared;
struct PlaybackTicket;

class CAnimatedPicture : public CStatic {
public:
    CAnimatedPicture();
    virtual ~CAnimatedPicture();

    // Loading and surfaces
    BOOL LoadFile(LPCTSTR path);
    BOOL LoadMemory(HGLOBAL block, DWORD size);
    void UnloadPicture();
    BOOL PrepareSurfaces(int cx, int cy);
    void CaptureBackground(HDC hostDC);
    void ApplyBackground(HDC hostDC, int* pending, BOOL deleteWhenNotTaken);

    // Playback
    BOOL StartDisplay();
    BOOL IsAnimated();
    void StopPlayback();

protected:
    // GIF block scanner and frame splitter; used only while LoadMemory holds the data locked.
    // isGif, screenDescriptor, colorTableSize, width and height from the locked data.
    void ReadLogicalScreen();
    void ResetScanPosition();
    GifBlockKind ClassifyBlock();
    int BlockLength();
    int SubBlocksLength(DWORD offset);
    BOOL AdvanceBlock();
    BOOL SkipToNextImage();
    HGLOBAL ExtractNextFrame(DWORD* size, int* delay, int* extent, int* offset, int* disposal);
    // One field of the packed byte of the logical screen descriptor, or of the image
    // descriptor at scanPos: 0 colour table flag, 1 colour resolution / interlace flag,
    // 2 sort flag, 3 table size exponent, anything else the whole byte.
    int ScreenDescriptorField(int selector);
    int ImageDescriptorField(int selector);

    // Thread entry; its argument is a ticket naming the control, the shared block and the
    // generation it plays for. The frame loop is static: it reaches the control only through
    // the ticket, under the lock, while its generation is current.
    static unsigned __stdcall PlaybackThreadProc(void* ticket);
    static void PlayFrames(PlaybackTicket& ticket);

    // Message handlers
    afx_msg void OnDestroy();
    afx_msg void OnPaint();
    DECLARE_MESSAGE_MAP()

protected:
    HDC bgDC;
    HBITMAP bgBitmap;
    HGDIOBJ bgOldBitmap;
    int width;
    int height;
    DWORD dataSize;
    DWORD scanPos;
    int colorTableSize;
    BOOL isGif;
    BOOL stopRequested;
    BOOL surfacesReady;
    HDC memDC;
    HBITMAP memBitmap;
    HGDIOBJ memOldBitmap;
    HANDLE playbackThread;
    HANDLE stopEvent;
    IPicture* picture;
    BYTE* header;
    BYTE* data;
    BYTE* screenDescriptor;
    CFrameArray frames;
    std::shared_ptr<PlaybackShared> playback;
    // Where `picture` is drawn on the memory surface: the whole surface, but for a GIF with one
    // image the rectangle of that image on the logical screen.
    RECT stillPlace;

private:
    // The walk shared by SkipToNextImage and ExtractNextFrame: moves past the next rendering
    // block and reports where its frame starts, where its graphic control extension is (the
    // first one, or kNoBlock) and where the rendering block is.
    static constexpr DWORD kNoBlock = 0xFFFFFFFFu;
    BOOL WalkNextImage(DWORD* frameStart, DWORD* controlBlock, DWORD* renderBlock);
    // Size and position of the rendering block at renderBlock: an image's descriptor, or the
    // whole logical screen for plain text.
    void ReadImagePlace(DWORD renderBlock, int* extent, int* offset);
    RECT FirstImagePlace();
    BOOL RenderStill();
    BOOL LoadWholePicture(HGLOBAL block, DWORD size);
    BOOL LoadGifFrames();
    BOOL RebuildSurfaces(HDC hostDC, const RECT& r);
    BOOL PlaceOverParent(RECT* r);
    void ReleaseMemorySurface();
    void ReleaseBackgroundCopy();
};
