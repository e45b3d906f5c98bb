// Limits on what the network may make the library do, the same for every transport.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace nimbrel {

// The one status whose body is a picture.
inline constexpr long kHttpOk = 200;

inline constexpr long long kMaxBodyBytes = 8 * 1024 * 1024;
inline constexpr long kMaxRedirects = 3;
inline constexpr long kConnectTimeoutMs = 5 * 1000;
inline constexpr long kTransferTimeoutMs = 30 * 1000;

// The time one transfer may take: kTransferTimeoutMs, or less when NIMBREL_TRANSFER_MS in the
// environment says so (it never lengthens it).
inline std::chrono::milliseconds TransferTimeLimit() {
    static const std::chrono::milliseconds limit = [] {
        const std::chrono::milliseconds longest(kTransferTimeoutMs);
        const char* value = std::getenv("NIMBREL_TRANSFER_MS");
        if (value == nullptr || *value == '\0') return longest;
        char* end = nullptr;
        const long long ms = std::strtoll(value, &end, 10);
        if (*end != '\0' || ms <= 0) return longest;
        return std::min(longest, std::chrono::milliseconds(ms));
    }();
    return limit;
}

}  // namespace nimbrel
