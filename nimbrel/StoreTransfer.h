// The store's side of one transfer of one picture, whatever carries it (curl on Linux,
// Transfer.h; WinHTTP on Windows, win32/WinTransfer.cpp). The body goes to a temporary file
// beside the destination, created at the first byte, and replaces the destination only after a
// complete 200 response within the size limit that holds a picture; a 304 to a refresh marks the
// stored picture fresh. Every file of the transfer is reached beneath the request's root without
// following links, and one transfer per picture runs among the processes sharing the store.
#pragma once

#include <chrono>
#include <string>

#include "Limits.h"
#include "PictureCheck.h"
#include "Request.h"
#include "StoreFiles.h"
#include "TempFiles.h"
#include "TransferLock.h"

namespace nimbrel {

// What the transport brought back.
struct HttpAnswer {
    long status = 0;  // of the last response, after redirects; 0 when none came
    Validators validators;
    bool framed = false;  // the body's end was stated (a length, chunks, HTTP/2) and checked
    std::string failure;  // why no whole answer came; empty when one did
};

class StoreTransfer {
public:
    enum class Start {
        running,  // to be sent, with Conditional()
        waiting,  // another process is fetching the picture: poll WaitIsOver()
        refused   // nothing to do; the reason has been logged
    };
    enum class Outcome { stored, unchanged, failed };

    StoreTransfer(Request request, StaleTempSweeper& sweeper);

    // Opens the picture's directory, takes the picture's transfer lock and, for a refresh,
    // reads the stored validators.
    Start Begin();
    // Once the transport is set up: says in the log that the transfer runs.
    void LogStarted() const;
    // The validators to send (empty: fetch whole).
    const Validators& Conditional() const { return m_conditional; }
    // While waiting: true once the other process's transfer has ended, or has run longer
    // than one transfer may; OtherDelivered() then tells whether this one is over.
    bool WaitIsOver();
    // After the wait: true when the other transfer brought the picture (it differs from what
    // was stored when the wait began); else this transfer's request is to be asked again.
    bool OtherDelivered();
    Request TakeRequest() { return std::move(m_request); }

    // Body bytes as they arrive, every one counted against the size limit; those of a 200
    // (`keep`) go to the temporary file. False stops the transfer; the reason is kept.
    bool Body(const char* data, size_t length, bool keep);
    // Finish() in three steps, so that many transfers' bodies can wait for the disk together:
    // Conclude() judges the answer and makes a body to be kept durable (it may run beside other
    // transfers' Conclude()); PutInPlace() then puts the body in place of the picture, true when
    // the picture's directory is to be synced (Directory().Sync(), for the new name to last);
    // End() lets the control see the picture. After a crash the picture is the old one or the
    // whole new one.
    Outcome Conclude(const HttpAnswer& answer);
    bool PutInPlace();
    void End();
    Outcome Finish(const HttpAnswer& answer);

    const PictureDirectory& Directory() const { return m_directory; }
    const Request& GetRequest() const { return m_request; }

private:
    // Empty on success, else why the picture does not count as fetched now.
    std::string MarkDestinationFresh(const Validators& answered);
    void LogFailure(long status, const std::string& transportFailure);
    std::string Name() const { return std::string(NameOf(m_request.relative)); }

    Request m_request;
    StaleTempSweeper& m_sweeper;
    PictureDirectory m_directory;  // the picture's
    TransferLock m_lock;
    TempFile m_temp{m_directory};
    std::chrono::steady_clock::time_point m_waitingSince;
    PictureDirectory::StoredState m_storedAtWait;
    Validators m_conditional;  // sent with the request
    std::string m_failure;     // why the body was refused, when it was
    long long m_bodyBytes = 0;
    BodyShape m_shape;            // of a 200 body
    bool m_toPutInPlace = false;  // concluded with a synced body that replaces the picture
};

}  // namespace nimbrel
