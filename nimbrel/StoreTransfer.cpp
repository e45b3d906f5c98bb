#include "StoreTransfer.h"

#include "Log.h"

namespace nimbrel {
namespace {

constexpr long kHttpNotModified = 304;
constexpr long kHttpNotFound = 404;
constexpr long kHttpFirstError = 400;

const char* StatusMeaning(long status) {
    if (status == kHttpNotFound) return "the server has no such picture";
    if (status == kHttpNotModified) return "a 304 although nothing was compared";
    if (status >= kHttpFirstError) return "the server refused";
    return "no picture in the answer";
}

}  // namespace

StoreTransfer::StoreTransfer(Request request, StaleTempSweeper& sweeper)
    : m_request(std::move(request)), m_sweeper(sweeper) {}

StoreTransfer::Start StoreTransfer::Begin() {
    std::string why;
    if (!m_directory.Open(m_request.root, ParentOf(m_request.relative), &why)) {
        LogPicture(m_request, "refused: %s", why.c_str());
        return Start::refused;
    }
    // Looked at before the lock: a transfer that ends between the two still counts as new.
    const PictureDirectory::StoredState stored = m_directory.Examine(Name());
    switch (m_lock.TryTake(m_directory, Name(), m_request.refresh)) {
        case TransferLock::State::busy:
            if (m_request.waited) {
                // Bounded: one wait, then a transfer of its own even beside the other.
                m_lock.Release();
                LogPicture(m_request, "the other process's transfer still runs; fetching anyway");
                break;
            }
            m_waitingSince = std::chrono::steady_clock::now();
            m_storedAtWait = stored;
            LogPicture(m_request,
                       "another process is fetching it; waiting for that transfer instead");
            return Start::waiting;
        case TransferLock::State::unavailable:
            LogPicture(m_request,
                       "no transfer lock in its directory; other processes may fetch it too");
            break;
        case TransferLock::State::taken:
            // No other transfer of it runs: a replace half done is one whose process ended.
            m_directory.FinishReplace(Name());
            break;
    }
    // A refresh compares with what the server said of the stored copy, never with the copy's
    // local time: that only says when it was fetched. Without validators it fetches whole.
    if (m_request.refresh) {
        const StoredPicture picture(m_directory, Name(), m_request.hold);
        if (picture) m_conditional = picture.ReadValidators();
    }
    return Start::running;
}

void StoreTransfer::LogStarted() const {
    LogPicture(m_request, "started%s",
               !m_conditional.Empty() ? " (a refresh, with the stored validators)"
               : m_request.refresh    ? " (a refresh, but no validators are stored: fetching whole)"
                                      : "");
}

bool StoreTransfer::WaitIsOver() {
    if (!m_lock.OtherStillRuns()) return true;
    if (std::chrono::steady_clock::now() - m_waitingSince > TransferTimeLimit()) {
        LogPicture(m_request, "the other process's transfer did not end within %lld ms",
                   static_cast<long long>(TransferTimeLimit().count()));
        return true;
    }
    return false;
}

bool StoreTransfer::OtherDelivered() {
    if (!(m_directory.Examine(Name()) == m_storedAtWait)) {
        LogPicture(m_request, "the other process's transfer brought it; no request of its own");
        return true;
    }
    LogPicture(m_request, "the other process's transfer did not bring it: asking for it again");
    m_request.waited = true;
    return false;
}

bool StoreTransfer::Body(const char* data, size_t length, bool keep) {
    // Every body byte counts: a stream of unknown length must be stopped here.
    if (static_cast<long long>(length) > kMaxBodyBytes - m_bodyBytes) {
        m_failure = "the body is larger than " + std::to_string(kMaxBodyBytes) + " bytes";
        return false;
    }
    m_bodyBytes += static_cast<long long>(length);
    if (!keep) return true;  // an error page is read and dropped
    if (!m_temp) {
        m_sweeper.BeforeWriting(m_request.root + "/" + std::string(ParentOf(m_request.relative)),
                                m_directory);
        if (!m_temp.Create(&m_failure)) return false;
    }
    m_shape.Add(std::string_view(data, length));
    if (m_temp.Write(data, length)) return true;
    m_failure = "the body cannot be written: " + LastErrorText();
    return false;
}

std::string StoreTransfer::MarkDestinationFresh(const Validators& answered) {
    StoredPicture stored(m_directory, Name(), m_request.hold);
    if (!stored) return "it cannot be opened: " + LastErrorText();
    // The real time, as a picture written now would carry: the control judges freshness by
    // the file's modification time, and a new file gets the file system's clock.
    const std::string why =
        stored.MarkFresh() ? "" : "its time cannot be reset: " + LastErrorText();
    // A 304 may bring validators that differ from the stored ones (a new ETag for the same
    // bytes, say); those it brings replace them.
    // They are merged into those sent, which were read from this picture when the transfer
    // began; the same ones again are not written.
    Validators validators = m_conditional;
    if (!answered.etag.empty()) validators.etag = answered.etag;
    if (!answered.lastModified.empty()) validators.lastModified = answered.lastModified;
    if (validators.etag != m_conditional.etag ||
        validators.lastModified != m_conditional.lastModified)
        stored.WriteValidators(validators);
    return why;
}

StoreTransfer::Outcome StoreTransfer::Conclude(const HttpAnswer& answer) {
    const bool complete = answer.failure.empty() && m_failure.empty();
    if (complete && answer.status == kHttpNotModified && !m_conditional.Empty()) {
        m_temp.Discard();
        const std::string notFresh = MarkDestinationFresh(answer.validators);
        if (notFresh.empty()) {
            LogPicture(
                m_request,
                "unchanged, status 304: the stored picture is kept and counts as fetched now");
        } else {
            LogPicture(m_request,
                       "unchanged, status 304: the stored picture is kept, but %s; it stays stale",
                       notFresh.c_str());
        }
        return Outcome::unchanged;
    }
    if (complete && answer.status == kHttpOk && m_temp &&
        (m_failure = m_shape.WhyNotAPicture(answer.framed)).empty()) {
        // The validators travel with the new file, so that no process ever sees the picture of
        // one answer with the validators of another.
        if (!m_temp.KeepValidators(answer.validators, Name())) {
            LogPicture(m_request,
                       "its validators cannot be kept (%s): the next refresh fetches it whole",
                       LastErrorText().c_str());
        }
        if (m_temp.Sync()) {
            m_toPutInPlace = true;
            return Outcome::stored;
        }
        m_failure = "the body cannot be moved into place: " + LastErrorText();
    }
    // An empty 200 body counts as a failure too: it is no picture, and it must not replace
    // one that works.
    m_temp.Discard();
    LogFailure(answer.status, answer.failure);
    return Outcome::failed;
}

bool StoreTransfer::PutInPlace() {
    if (!m_toPutInPlace) return false;
    m_toPutInPlace = false;
    // Held to the end: once the hold lets go, the name shows the new picture or none.
    if (!m_temp.PlaceAs(Name(), m_request.hold.File())) {
        m_failure = "the body cannot be moved into place: " + LastErrorText();
        LogFailure(kHttpOk, "");
        return false;
    }
    LogPicture(m_request, "stored, status 200, %lld bytes", m_bodyBytes);
    return true;
}

void StoreTransfer::End() {
    // Only now that the picture is in place (or left as it was) may the control see it.
    m_lock.Release();
    m_request.hold.Release();
}

StoreTransfer::Outcome StoreTransfer::Finish(const HttpAnswer& answer) {
    Outcome outcome = Conclude(answer);
    const bool placed = PutInPlace();
    if (outcome == Outcome::stored && !placed) outcome = Outcome::failed;
    End();
    if (placed) m_directory.Sync();
    return outcome;
}

void StoreTransfer::LogFailure(long status, const std::string& transportFailure) {
    const std::string why = !m_failure.empty()          ? m_failure
                            : !transportFailure.empty() ? transportFailure
                            : status == kHttpOk         ? "the body is empty"
                                                        : StatusMeaning(status);
    if (status != 0) {
        LogPicture(m_request, "failed, status %ld: %s; a stored picture stays as it was", status,
                   why.c_str());
    } else {
        LogPicture(m_request, "failed, no answer: %s; a stored picture stays as it was",
                   why.c_str());
    }
}

}  // namespace nimbrel
