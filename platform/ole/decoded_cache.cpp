#include "ole/decoded_cache.h"

#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/picture_cache.h"

namespace platform_ole {
namespace {

size_t BytesOf(const DecodedImage& image) {
    const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    return image.Indexed() ? count : count * sizeof(uint32_t);
}

// A fast hash that only spreads pictures over the table: equal hashes are confirmed by
// comparing the bytes, so it need not resist crafted collisions. Sixteen bytes per step are
// folded in with one 64 x 64 -> 128-bit multiplication.
constexpr uint64_t kHashSeed = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kHashMixLow = 0xA0761D6478BD642Full;
constexpr uint64_t kHashMixHigh = 0xE7037ED1A0B428DBull;

uint64_t Fold(uint64_t a, uint64_t b) {
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    return static_cast<uint64_t>(product) ^ static_cast<uint64_t>(product >> 64);
}

uint64_t Word(const uint8_t* p) {
    uint64_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

uint64_t HashBytes(const uint8_t* data, size_t size) {
    uint64_t h = kHashSeed ^ Fold(size, kHashMixHigh);
    size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        h = Fold(Word(data + i) ^ kHashMixLow, Word(data + i + 8) ^ h);
    }
    uint8_t tail[16] = {};
    if (size > i) std::memcpy(tail, data + i, size - i);
    h = Fold(Word(tail) ^ kHashMixLow, Word(tail + 8) ^ h);
    return Fold(h ^ kHashMixHigh, h);
}

// The bytes a decoded image was made from, kept beside it to confirm a match.
struct SharedImage {
    std::vector<uint8_t> bytes;
    DecodedImage image;
    bool Holds(const Content& content) const {
        return bytes.size() == content.size &&
               (content.size == 0 || std::memcmp(bytes.data(), content.data, content.size) == 0);
    }
};

std::shared_ptr<const DecodedImage> ImageOf(std::shared_ptr<const SharedImage> shared) {
    const DecodedImage* image = &shared->image;
    return std::shared_ptr<const DecodedImage>(std::move(shared), image);
}

struct Key {
    uint64_t hash;
    size_t size;
    bool operator==(const Key& other) const { return hash == other.hash && size == other.size; }
};

struct KeyHash {
    size_t operator()(const Key& key) const { return static_cast<size_t>(key.hash); }
};

// Entries whose image has died are swept when the table has doubled since the last sweep.
class Cache {
public:
    std::shared_ptr<const DecodedImage> Find(const Content& content) {
        std::shared_ptr<const SharedImage> living;
        {
            std::lock_guard<std::mutex> hold(lock_);
            auto it = entries_.find(Key{content.hash, content.size});
            if (it == entries_.end()) return nullptr;
            living = it->second.image.lock();
        }
        // Compared outside the lock: the bytes never change while the image lives.
        return living != nullptr && living->Holds(content) ? ImageOf(std::move(living)) : nullptr;
    }

    std::shared_ptr<const DecodedImage> Share(const Content& content, DecodedImage&& image) {
        auto made = std::make_shared<SharedImage>();
        made->bytes.assign(content.data, content.data + content.size);
        made->image = std::move(image);
        std::lock_guard<std::mutex> hold(lock_);
        Entry& entry = entries_[Key{content.hash, content.size}];
        if (auto living = entry.image.lock()) {
            // The same bytes decoded by another thread meanwhile are shared; other bytes of the
            // same hash keep the entry's image, and this one is simply not shared.
            return living->Holds(content) ? ImageOf(std::move(living)) : ImageOf(std::move(made));
        }
        entry = {made, BytesOf(made->image)};
        if (entries_.size() >= 2 * sweptSize_) SweepLocked();
        return ImageOf(std::move(made));
    }

    size_t LivingBytes() {
        std::lock_guard<std::mutex> hold(lock_);
        size_t total = 0;
        for (const auto& [key, entry] : entries_) {
            if (!entry.image.expired()) total += entry.bytes;
        }
        return total;
    }

private:
    struct Entry {
        std::weak_ptr<const SharedImage> image;
        size_t bytes = 0;
    };

    void SweepLocked() {
        for (auto it = entries_.begin(); it != entries_.end();) {
            it = it->second.image.expired() ? entries_.erase(it) : std::next(it);
        }
        sweptSize_ = std::max<size_t>(entries_.size(), kFirstSweep);
    }

    static constexpr size_t kFirstSweep = 64;
    std::mutex lock_;
    std::unordered_map<Key, Entry, KeyHash> entries_;
    size_t sweptSize_ = kFirstSweep;
};

Cache& TheCache() {
    static Cache* cache = new Cache;  // never destroyed: pictures may outlive static objects
    return *cache;
}

}  // namespace

Content ContentOf(const uint8_t* data, size_t size) {
    return Content{data, size, HashBytes(data, size)};
}

std::shared_ptr<const DecodedImage> FindDecoded(const Content& content) {
    return TheCache().Find(content);
}

std::shared_ptr<const DecodedImage> ShareDecoded(const Content& content, DecodedImage&& image) {
    return TheCache().Share(content, std::move(image));
}

size_t SharedDecodedBytes() {
    return TheCache().LivingBytes();
}

}  // namespace platform_ole

namespace platform {

size_t DecodedPictureBytes() {
    return platform_ole::SharedDecodedBytes();
}

}  // namespace platform
