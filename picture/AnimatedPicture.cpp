// CAnimatedPicture: construction, loading, the drawing surfaces and the host's background.
#include "AnimatedPicture.h"

#include <afx.h>

#include "GifFormat.h"
#include "LoadBudget.h"
#include "PictureUnits.h"
#include "PlaybackShared.h"
#include "Surface.h"

namespace {

constexpr UINT kLoadFileAllocFlags = GMEM_MOVEABLE | GMEM_NODISCARD;
constexpr UINT kResizeFlags = SWP_NOMOVE | SWP_NOZORDER;

// The image count only chooses between the still and the animated path.
constexpr int kImagesOfAnAnimation = 2;

}  // namespace

BEGIN_MESSAGE_MAP(CAnimatedPicture, CStatic)
ON_WM_DESTROY()
ON_WM_PAINT()
END_MESSAGE_MAP()

// ---- Construction ----------------------------------------------------------------------------

CAnimatedPicture::CAnimatedPicture()
    : bgDC(nullptr),
      bgBitmap(nullptr),
      bgOldBitmap(nullptr),
      width(0),
      height(0),
      dataSize(0),
      scanPos(0),
      colorTableSize(0),
      isGif(FALSE),
      stopRequested(FALSE),
      surfacesReady(FALSE),
      memDC(nullptr),
      memBitmap(nullptr),
      memOldBitmap(nullptr),
      playbackThread(nullptr),
      stopEvent(nullptr),
      picture(nullptr),
      header(nullptr),
      data(nullptr),
      screenDescriptor(nullptr),
      playback(std::make_shared<PlaybackShared>()),
      stillPlace{0, 0, 0, 0} {
    stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

CAnimatedPicture::~CAnimatedPicture() {
    UnloadPicture();
    {
        // A playback thread that outlived StopPlayback's wait may still hold the stop event in
        // a wait; the shared block closes it once that thread has let go.
        std::lock_guard<std::mutex> guard(playback->lock);
        ++playback->generation;
        playback->stopEventToClose = stopEvent;
    }
    stopEvent = nullptr;
    frames.FreeStorage();
}

// ---- Loading ---------------------------------------------------------------------------------

BOOL CAnimatedPicture::LoadFile(LPCTSTR path) {
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite, nullptr)) return FALSE;

    HGLOBAL block = nullptr;
    DWORD bytesRead = 0;
    try {
        // Inside the guard: GetLength throws like the other CFile operations.
        const DWORD length = file.GetLength();
        if (length > load_budget::kMaxFileBytes) {
            file.Abort();
            return FALSE;
        }
        block = GlobalAlloc(kLoadFileAllocFlags, length);
        if (block == nullptr) {
            file.Abort();
            return FALSE;
        }
        void* bytes = GlobalLock(block);
        if (bytes == nullptr) {
            GlobalFree(block);
            file.Abort();
            return FALSE;
        }
        // Only the bytes actually read are handed on: a file that shrank since GetLength must
        // not be parsed with the uninitialised rest of the block.
        bytesRead = file.Read(bytes, length);
        GlobalUnlock(block);
        file.Close();
    } catch (CException* e) {
        if (block != nullptr) GlobalFree(block);
        e->Delete();
        file.Abort();
        return FALSE;
    } catch (...) {
        if (block != nullptr) GlobalFree(block);
        file.Abort();
        return FALSE;
    }

    const BOOL loaded = LoadMemory(block, bytesRead);
    GlobalFree(block);
    return loaded;
}

BOOL CAnimatedPicture::LoadMemory(HGLOBAL block, DWORD size) {
    UnloadPicture();

    data = static_cast<BYTE*>(GlobalLock(block));
    if (data == nullptr) return FALSE;
    dataSize = size;
    header = data;

    if (!gif::IsGifSignature(data, dataSize)) {
        data = nullptr;
        GlobalUnlock(block);
        if (!LoadWholePicture(block, size)) return FALSE;
        stillPlace = RECT{0, 0, width, height};
        return PrepareSurfaces(width, height);
    }

    ReadLogicalScreen();
    ResetScanPosition();
    int images = 0;
    while (images < kImagesOfAnAnimation && SkipToNextImage()) ++images;

    if (images == 0) {
        data = nullptr;
        GlobalUnlock(block);
        return FALSE;
    }
    if (images < kImagesOfAnAnimation) {
        // The picture loader decodes the image at its own size, not the logical screen's.
        stillPlace = FirstImagePlace();
        data = nullptr;
        GlobalUnlock(block);
        if (!LoadWholePicture(block, dataSize)) return FALSE;
        return PrepareSurfaces(width, height);
    }

    LoadGifFrames();
    data = nullptr;
    GlobalUnlock(block);
    if (frames.GetSize() == 0) return FALSE;
    return PrepareSurfaces(width, height);
}

// The whole block as one picture: non-GIF data and a GIF with one image. Only non-GIF data
// takes its size from the picture; a GIF keeps its logical screen size.
BOOL CAnimatedPicture::LoadWholePicture(HGLOBAL block, DWORD size) {
    // The picture loader reads a size of 0 as "to the end of the stream", which would parse the
    // whole block: a file that shrank to nothing since LoadFile measured it is no picture.
    if (size == 0) return FALSE;
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(block, FALSE, &stream)) || stream == nullptr) return FALSE;
    const HRESULT hr = OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture,
                                      reinterpret_cast<LPVOID*>(&picture));
    stream->Release();
    if (FAILED(hr) || picture == nullptr) {
        picture = nullptr;
        return FALSE;
    }
    if (isGif) return TRUE;

    OLE_XSIZE_HIMETRIC himetricWidth = 0;
    OLE_YSIZE_HIMETRIC himetricHeight = 0;
    picture->get_Width(&himetricWidth);
    picture->get_Height(&himetricHeight);
    HDC windowDC = ::GetDC(m_hWnd);
    width = picture_units::HimetricToPixels(himetricWidth, GetDeviceCaps(windowDC, LOGPIXELSX));
    height = picture_units::HimetricToPixels(himetricHeight, GetDeviceCaps(windowDC, LOGPIXELSY));
    ::ReleaseDC(m_hWnd, windowDC);
    return TRUE;
}

// Splits the locked GIF into one-image GIFs and decodes each; frames that fail are dropped,
// and so are the frames past the load budget.
BOOL CAnimatedPicture::LoadGifFrames() {
    ULONGLONG charged = load_budget::ScreenCharge(width, height);
    ResetScanPosition();
    for (;;) {
        FrameRecord record = {};
        DWORD blockSize = 0;
        HGLOBAL frameBlock =
            ExtractNextFrame(&blockSize, &record.delay, &record.cx, &record.x, &record.disposal);
        if (frameBlock == nullptr) break;

        charged += load_budget::FrameCharge(record.cx, record.cy);
        if (charged > load_budget::kPixels) {
            GlobalFree(frameBlock);
            break;
        }

        IStream* stream = nullptr;
        if (FAILED(CreateStreamOnHGlobal(frameBlock, TRUE, &stream)) || stream == nullptr) {
            GlobalFree(frameBlock);
            continue;
        }
        const HRESULT hr = OleLoadPicture(stream, static_cast<LONG>(blockSize), FALSE, IID_IPicture,
                                          reinterpret_cast<LPVOID*>(&record.picture));
        stream->Release();
        if (FAILED(hr) || record.picture == nullptr) continue;
        if (!frames.Add(record)) {
            record.picture->Release();
            break;
        }
    }
    return frames.GetSize() > 0;
}

void CAnimatedPicture::UnloadPicture() {
    StopPlayback();

    if (picture != nullptr) {
        picture->Release();
        picture = nullptr;
    }
    for (int i = 0; i < frames.GetSize(); ++i) {
        if (frames[i].picture != nullptr) frames[i].picture->Release();
    }
    frames.RemoveAll();
    ReleaseMemorySurface();
    ReleaseBackgroundCopy();

    screenDescriptor = nullptr;
    header = nullptr;
    data = nullptr;
    playbackThread = nullptr;
    surfacesReady = FALSE;
    stopRequested = FALSE;
    isGif = FALSE;
    colorTableSize = 0;
    scanPos = 0;
    dataSize = 0;
}

// ---- Surfaces --------------------------------------------------------------------------------

void CAnimatedPicture::ReleaseMemorySurface() {
    ReleaseSurface(memDC, memBitmap, memOldBitmap);
}

void CAnimatedPicture::ReleaseBackgroundCopy() {
    ReleaseSurface(bgDC, bgBitmap, bgOldBitmap);
}

BOOL CAnimatedPicture::PrepareSurfaces(int cx, int cy) {
    SetWindowPos(nullptr, 0, 0, cx, cy, kResizeFlags);

    HDC windowDC = ::GetDC(m_hWnd);
    if (windowDC == nullptr) return FALSE;

    std::lock_guard<std::mutex> guard(playback->lock);
    ReleaseMemorySurface();
    ReleaseBackgroundCopy();

    if (!BuildSurface(windowDC, cx, cy, memDC, memBitmap, memOldBitmap)) {
        ::ReleaseDC(m_hWnd, windowDC);
        return FALSE;
    }

    RECT window = {};
    GetWindowRect(&window);
    BitBlt(memDC, 0, 0, window.right - window.left, window.bottom - window.top, windowDC, 0, 0,
           SRCCOPY);
    ::ReleaseDC(m_hWnd, windowDC);
    surfacesReady = TRUE;
    return TRUE;
}

// The control's rectangle in its parent's client coordinates.
BOOL CAnimatedPicture::PlaceOverParent(RECT* r) {
    GetWindowRect(r);
    CWnd* parent = CWnd::FromHandle(::GetParent(m_hWnd));
    if (parent == nullptr) return FALSE;
    POINT topLeft = {r->left, r->top};
    POINT bottomRight = {r->right, r->bottom};
    parent->ScreenToClient(&topLeft);
    parent->ScreenToClient(&bottomRight);
    *r = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    return TRUE;
}

void CAnimatedPicture::CaptureBackground(HDC hostDC) {
    if (hostDC == nullptr) return;
    ReleaseBackgroundCopy();

    if (!BuildSurface(hostDC, width, height, bgDC, bgBitmap, bgOldBitmap)) {
        DeleteDC(hostDC);
        return;
    }

    RECT r = {};
    PlaceOverParent(&r);
    BitBlt(bgDC, 0, 0, r.right - r.left, r.bottom - r.top, hostDC, r.left, r.top, SRCCOPY);
}

// Both surfaces again, from the host's DC. Called with the playback lock held, so a running
// animation waits for the exchange and then draws on the new memory surface.
BOOL CAnimatedPicture::RebuildSurfaces(HDC hostDC, const RECT& r) {
    CaptureBackground(hostDC);
    // CaptureBackground deletes the host's DC when it cannot copy it: the DC must not be used
    // then, and the memory surface stays as it is, so the picture goes on showing.
    if (bgDC == nullptr) return FALSE;

    ReleaseMemorySurface();
    if (!BuildSurface(hostDC, width, height, memDC, memBitmap, memOldBitmap)) {
        ::ReleaseDC(m_hWnd, hostDC);
        return FALSE;
    }
    BitBlt(memDC, 0, 0, r.right - r.left, r.bottom - r.top, hostDC, r.left, r.top, SRCCOPY);
    return TRUE;
}

void CAnimatedPicture::ApplyBackground(HDC hostDC, int* pending, BOOL deleteWhenNotTaken) {
    if (hostDC == nullptr) return;
    RECT r = {};
    PlaceOverParent(&r);

    if (IsAnimated()) {
        if (*pending != 0) {
            BOOL rebuilt;
            {
                std::lock_guard<std::mutex> guard(playback->lock);
                rebuilt = RebuildSurfaces(hostDC, r);
            }
            if (rebuilt) *pending = 0;
            return;
        }
    } else if (*pending != 0 && surfacesReady) {
        BOOL rebuilt;
        {
            std::lock_guard<std::mutex> guard(playback->lock);
            rebuilt = RebuildSurfaces(hostDC, r);
        }
        if (!rebuilt) return;
        StartDisplay();
        *pending = 0;
        return;
    }

    if (deleteWhenNotTaken) DeleteDC(hostDC);
}
