// Where in a directory's lock file the transfer lock of a picture lies: the same bytes on every
// system, so that the rule reads the same in the POSIX and the Windows file layers.
#pragma once

#include <cstdint>
#include <string_view>

namespace nimbrel {

// Two bytes per picture: a fetch's, then a refresh's. A picture's pair comes from a hash of
// its name; two names sharing a pair only make one of them wait now and then.
inline constexpr uint64_t kLockPairMask = (uint64_t{1} << 40) - 1;

inline uint64_t FetchByteOf(std::string_view name) {
    uint64_t hash = 14695981039346656037ULL;  // FNV-1a
    for (char ch : name) {
        hash ^= static_cast<unsigned char>(ch);
        hash *= 1099511628211ULL;
    }
    return (hash & kLockPairMask) * 2;
}

}  // namespace nimbrel
