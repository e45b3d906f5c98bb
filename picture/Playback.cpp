// CAnimatedPicture: starting and stopping the display, the playback thread and painting.
#include <process.h>

#include <new>

#include "AnimatedPicture.h"
#include "PlaybackShared.h"
#include "PlaybackTiming.h"
#include "Surface.h"

namespace {

using Guard = std::lock_guard<std::mutex>;

// A copy of the rectangle a disposal-3 frame covers, kept while the frame is shown.
struct SavedArea {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ displaced = nullptr;

    void Release() { ReleaseSurface(dc, bitmap, displaced); }
};

// The playback thread's stack. Its deepest path, a frame rendered through the picture object,
// takes about 5 KB, and the thread runs with 16 KB even under the sanitizers; this leaves a wide
// margin, where the default stack would reserve megabytes.
constexpr unsigned kPlaybackStackBytes = 64 * 1024;

constexpr int kDisposalRestoreBackground = 2;
constexpr int kDisposalRestorePrevious = 3;

HRESULT RenderWhole(IPicture* picture, HDC dc, int x, int y, int cx, int cy) {
    OLE_XSIZE_HIMETRIC hmWidth = 0;
    OLE_YSIZE_HIMETRIC hmHeight = 0;
    picture->get_Width(&hmWidth);
    picture->get_Height(&hmHeight);
    // The HIMETRIC y axis points upwards: start at the top and go down to draw upright.
    return picture->Render(dc, x, y, cx, cy, 0, hmHeight, hmWidth, -hmHeight, nullptr);
}

}  // namespace

BOOL CAnimatedPicture::IsAnimated() {
    return isGif && frames.GetSize() > 1;
}

BOOL CAnimatedPicture::StartDisplay() {
    if (!surfacesReady) return FALSE;
    if (!IsAnimated()) return RenderStill();

    PlaybackTicket* ticket = new (std::nothrow) PlaybackTicket{this, playback, 0};
    if (ticket == nullptr) return FALSE;
    {
        Guard guard(playback->lock);
        // One playback thread at most: a second start would lose the first one's handle.
        if (playbackThread != nullptr) {
            delete ticket;
            return FALSE;
        }
        ticket->generation = playback->generation;
    }
    const uintptr_t thread =
        _beginthreadex(nullptr, kPlaybackStackBytes, &CAnimatedPicture::PlaybackThreadProc, ticket,
                       CREATE_SUSPENDED, nullptr);
    if (thread == 0) {
        delete ticket;
        return FALSE;
    }
    {
        Guard guard(playback->lock);
        playbackThread = reinterpret_cast<HANDLE>(thread);
    }
    ResumeThread(reinterpret_cast<HANDLE>(thread));
    return FALSE;
}

// A still picture, drawn once at its place over the memory surface. A multi-image GIF of which
// only one frame decoded shows that frame where playback would have drawn it.
BOOL CAnimatedPicture::RenderStill() {
    HRESULT hr;
    {
        Guard guard(playback->lock);
        if (picture != nullptr) {
            const RECT& at = stillPlace;
            hr = RenderWhole(picture, memDC, at.left, at.top, at.right - at.left,
                             at.bottom - at.top);
        } else if (frames.GetSize() == 1) {
            const FrameRecord& frame = frames[0];
            hr = RenderWhole(frame.picture, memDC, frame.x, frame.y, frame.cx, frame.cy);
        } else {
            return FALSE;
        }
    }
    if (FAILED(hr)) return FALSE;
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
    return TRUE;
}

void CAnimatedPicture::StopPlayback() {
    HANDLE thread;
    {
        Guard guard(playback->lock);
        stopRequested = TRUE;
        // Taken out of the field before the wait, so the ending thread leaves it to us and the
        // handle is closed exactly once.
        thread = playbackThread;
        playbackThread = nullptr;
    }
    SetEvent(stopEvent);
    if (thread != nullptr) {
        WaitForSingleObject(thread, playback_timing::kStopWaitMs);
        CloseHandle(thread);
    }
    Guard guard(playback->lock);
    // A thread that is still running after the wait belongs to an old generation from here on:
    // it touches nothing of ours again and ends at its next look.
    ++playback->generation;
    ResetEvent(stopEvent);
    stopRequested = FALSE;
}

unsigned __stdcall CAnimatedPicture::PlaybackThreadProc(void* argument) {
    PlaybackTicket* ticket = static_cast<PlaybackTicket*>(argument);
    PlayFrames(*ticket);

    HANDLE own = nullptr;
    {
        Guard guard(ticket->shared->lock);
        if (ticket->shared->generation == ticket->generation) {
            own = ticket->owner->playbackThread;
            ticket->owner->playbackThread = nullptr;
        }
    }
    if (own != nullptr) CloseHandle(own);
    delete ticket;
    return 0;
}

void CAnimatedPicture::PlayFrames(PlaybackTicket& ticket) {
    PlaybackShared& shared = *ticket.shared;
    CAnimatedPicture* self = ticket.owner;
    auto current = [&] { return shared.generation == ticket.generation; };

    HANDLE timer = CreateWaitableTimerA(nullptr, TRUE, nullptr);
    if (timer == nullptr) return;

    HANDLE waits[2] = {timer, nullptr};
    {
        Guard guard(shared.lock);
        if (!current() || self->stopRequested) {
            CloseHandle(timer);
            return;
        }
        waits[1] = self->stopEvent;
    }

    int index = 0;
    for (;;) {
        SavedArea saved;
        int delay = 0;
        int disposal = 0;
        int x = 0, y = 0, cx = 0, cy = 0;
        HWND drawnOn = nullptr;
        BOOL stop;
        {
            Guard guard(shared.lock);
            if (!current()) break;
            const FrameRecord& frame = self->frames[index];
            delay = frame.delay;
            disposal = frame.disposal;
            x = frame.x;
            y = frame.y;
            cx = frame.cx;
            cy = frame.cy;

            if (disposal == kDisposalRestorePrevious) {
                if (BuildSurface(self->memDC, cx, cy, saved.dc, saved.bitmap, saved.displaced)) {
                    BitBlt(saved.dc, 0, 0, cx, cy, self->memDC, x, y, SRCCOPY);
                }
            }
            if (disposal == kDisposalRestoreBackground && self->bgDC != nullptr) {
                BitBlt(self->memDC, 0, 0, self->width, self->height, self->bgDC, 0, 0, SRCCOPY);
            }
            if (SUCCEEDED(RenderWhole(frame.picture, self->memDC, x, y, cx, cy))) {
                drawnOn = self->m_hWnd;
            }
            stop = self->stopRequested;
        }
        // Invalidated without the lock, so the paint that this wakes does not wait for it.
        if (drawnOn != nullptr) ::InvalidateRect(drawnOn, nullptr, FALSE);
        if (stop) {
            saved.Release();
            break;
        }

        LARGE_INTEGER due;
        due.QuadPart = playback_timing::DueTimeForDelay(delay);
        SetWaitableTimer(timer, &due, 0, nullptr, nullptr, FALSE);
        // The result is not examined: a frame stays on screen at most the cap, whatever its delay.
        WaitForMultipleObjects(2, waits, FALSE, playback_timing::kFrameWaitCapMs);

        {
            Guard guard(shared.lock);
            if (!current() || self->stopRequested) {
                saved.Release();
                break;
            }
            if (saved.dc != nullptr) {
                // No invalidation: the restored area reaches the screen with the next frame.
                BitBlt(self->memDC, x, y, cx, cy, saved.dc, 0, 0, SRCCOPY);
            }
            saved.Release();
            index = (index + 1) % self->frames.GetSize();
        }
    }
    CloseHandle(timer);
}

// ---- Message handlers ------------------------------------------------------------------------

void CAnimatedPicture::OnPaint() {
    CPaintDC dc(this);
    Guard guard(playback->lock);
    BitBlt(dc.m_hDC, 0, 0, width, height, memDC, 0, 0, SRCCOPY);
}

void CAnimatedPicture::OnDestroy() {
    StopPlayback();
    CWnd::OnDestroy();
}
