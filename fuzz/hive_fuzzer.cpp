// Arbitrary bytes through the registry hive's parser, with a write-read round trip: whatever
// the parser makes of a text must be written so that it reads back to exactly the same keys,
// values and bytes, and writing that again must give the same text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "registry/hive.h"

namespace reg = platform::registry;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    reg::Hive parsed;
    if (!reg::ParseHive(text, &parsed)) return 0;
    const std::string written = reg::SerializeHive(parsed);
    reg::Hive reread;
    if (!reg::ParseHive(written, &reread) || !(reread.keys == parsed.keys)) std::abort();
    if (reg::SerializeHive(reread) != written) std::abort();
    return 0;
}
