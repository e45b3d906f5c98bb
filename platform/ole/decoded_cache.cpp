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

struct Key {
    uint64_t hash;
    size_t size;
    bool operator==(const Key& other) const { return hash == other.hash && size == other.size; }
};

struct KeyHash {
    size_t operator()(const Key& key) const { return static_cast<size_t>(key.hash); }
};

// Entries whose source has died are swept when the table has doubled since the last sweep.
class Cache {
public:
    std::shared_ptr<PictureSource> Find(const Content& content) {
        std::shared_ptr<PictureSource> living;
        {
            std::lock_guard<std::mutex> hold(lock_);
            auto it = entries_.find(Key{content.hash, content.size});
            if (it == entries_.end()) return nullptr;
            living = it->second.lock();
        }
        // Compared outside the lock: a source's bytes never change.
        return living != nullptr && living->Holds(content) ? living : nullptr;
    }

    std::shared_ptr<PictureSource> Share(const Content& content,
                                         std::shared_ptr<PictureSource> made) {
        std::lock_guard<std::mutex> hold(lock_);
        std::weak_ptr<PictureSource>& entry = entries_[Key{content.hash, content.size}];
        if (auto living = entry.lock()) {
            // The same bytes shared by another thread meanwhile are taken; other bytes of the
            // same hash keep the entry, and made is simply not shared.
            return living->Holds(content) ? living : made;
        }
        entry = made;
        if (entries_.size() >= 2 * sweptSize_) SweepLocked();
        return made;
    }

    size_t LivingBytes() {
        std::vector<std::shared_ptr<PictureSource>> living;
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (const auto& [key, entry] : entries_) {
                if (auto source = entry.lock()) living.push_back(std::move(source));
            }
        }
        size_t total = 0;
        for (const auto& source : living) total += source->DecodedBytes();
        return total;  // the sources die, if they are the last, outside the lock
    }

private:
    void SweepLocked() {
        for (auto it = entries_.begin(); it != entries_.end();) {
            it = it->second.expired() ? entries_.erase(it) : std::next(it);
        }
        sweptSize_ = std::max<size_t>(entries_.size(), kFirstSweep);
    }

    static constexpr size_t kFirstSweep = 64;
    std::mutex lock_;
    std::unordered_map<Key, std::weak_ptr<PictureSource>, KeyHash> entries_;
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

PictureSource::PictureSource(const Content& content, Decoder decode, int width, int height)
    : bytes_(content.data, content.data + content.size),
      decode_(decode),
      width_(width),
      height_(height) {}

PictureSource::PictureSource(const Content& content, DecodedImage&& image)
    : bytes_(content.data, content.data + content.size),
      decode_(nullptr),
      width_(image.width),
      height_(image.height) {
    std::call_once(decoded_, [&] { Keep(std::move(image)); });
}

void PictureSource::Keep(DecodedImage&& image) {
    if (!image.Indexed()) FindTransparency(&image);
    const size_t bytes = BytesOf(image);
    image_ = std::make_unique<const DecodedImage>(std::move(image));
    decodedBytes_.store(bytes, std::memory_order_release);
}

const DecodedImage* PictureSource::Image() {
    try {
        std::call_once(decoded_, [this] {
            DecodedImage image;
            if (decode_ == nullptr || !decode_(bytes_.data(), bytes_.size(), &image)) return;
            // The check promised this size; anything else is refused rather than drawn.
            if (image.width != width_ || image.height != height_) return;
            Keep(std::move(image));
        });
    } catch (const std::bad_alloc&) {
        return nullptr;  // the call did not count: the next one decodes again
    }
    return image_.get();
}

bool PictureSource::Holds(const Content& content) const {
    return bytes_.size() == content.size &&
           (content.size == 0 || std::memcmp(bytes_.data(), content.data, content.size) == 0);
}

std::shared_ptr<PictureSource> FindSource(const Content& content) {
    return TheCache().Find(content);
}

std::shared_ptr<PictureSource> ShareSource(const Content& content,
                                           std::shared_ptr<PictureSource> made) {
    return TheCache().Share(content, std::move(made));
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
