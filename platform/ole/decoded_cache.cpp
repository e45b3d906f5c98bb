#include "ole/decoded_cache.h"

#include <cstring>
#include <mutex>
#include <unordered_map>

#include <nettle/sha2.h>

#include "platform/picture_cache.h"

namespace platform_ole {
namespace {

size_t BytesOf(const DecodedImage& image) {
    const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    return image.Indexed() ? count : count * sizeof(uint32_t);
}

struct KeyHash {
    size_t operator()(const ContentKey& key) const {
        size_t value;  // the digest is already uniform
        std::memcpy(&value, key.digest.data(), sizeof value);
        return value ^ key.size;
    }
};

// Entries whose image has died are swept when the table has doubled since the last sweep.
class Cache {
public:
    std::shared_ptr<const DecodedImage> Find(const ContentKey& key) {
        std::lock_guard<std::mutex> hold(lock_);
        auto it = entries_.find(key);
        return it == entries_.end() ? nullptr : it->second.image.lock();
    }

    std::shared_ptr<const DecodedImage> Share(const ContentKey& key, DecodedImage&& image) {
        auto made = std::make_shared<const DecodedImage>(std::move(image));
        std::lock_guard<std::mutex> hold(lock_);
        Entry& entry = entries_[key];
        if (auto living = entry.image.lock()) return living;
        entry = {made, BytesOf(*made)};
        if (entries_.size() >= 2 * sweptSize_) SweepLocked();
        return made;
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
        std::weak_ptr<const DecodedImage> image;
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
    std::unordered_map<ContentKey, Entry, KeyHash> entries_;
    size_t sweptSize_ = kFirstSweep;
};

Cache& TheCache() {
    static Cache* cache = new Cache;  // never destroyed: pictures may outlive static objects
    return *cache;
}

}  // namespace

ContentKey KeyOfContent(const uint8_t* data, size_t size) {
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, size, data);
    ContentKey key{{}, size};
    sha256_digest(&context, key.digest.size(), key.digest.data());
    return key;
}

std::shared_ptr<const DecodedImage> FindDecoded(const ContentKey& key) {
    return TheCache().Find(key);
}

std::shared_ptr<const DecodedImage> ShareDecoded(const ContentKey& key, DecodedImage&& image) {
    return TheCache().Share(key, std::move(image));
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
