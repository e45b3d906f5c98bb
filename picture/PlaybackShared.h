// What the playback thread shares with its control (see the comment at CAnimatedPicture).
#pragma once

#include <memory>
#include <mutex>

#include "AnimatedPicture.h"

struct PlaybackShared {
    PlaybackShared() = default;
    PlaybackShared(const PlaybackShared&) = delete;
    PlaybackShared& operator=(const PlaybackShared&) = delete;
    ~PlaybackShared() {
        if (stopEventToClose != nullptr) CloseHandle(stopEventToClose);
    }

    std::mutex lock;
    // Advanced by every stop and by the control's destruction; a thread whose generation is
    // no longer current leaves the control alone.
    unsigned generation = 0;
    // The control's stop event, once the control is gone: a late thread may still wait on it.
    HANDLE stopEventToClose = nullptr;
};

// The playback thread's start argument.
struct PlaybackTicket {
    CAnimatedPicture* owner;
    std::shared_ptr<PlaybackShared> shared;
    unsigned generation;
};
