#include "ole/decoded_cache.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <xxhash.h>
#if defined(__x86_64__) || defined(__i386__)
// Replaces XXH3_64bits by the library's variant that picks the widest vector unit the CPU has,
// about four times as fast as the baseline SSE2 one on AVX2 and AVX-512 machines.
#include <xxh_x86dispatch.h>
#endif

#include "platform/picture_cache.h"

namespace platform_ole {
namespace {

size_t BytesOf(const DecodedImage& image) {
    const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    return image.Indexed() ? count : count * sizeof(uint32_t);
}

struct Key {
    uint64_t hash;
    size_t size;
    bool operator==(const Key& other) const { return hash == other.hash && size == other.size; }
};

struct KeyHash {
    size_t operator()(const Key& key) const { return static_cast<size_t>(key.hash); }
};

bool SameImage(const DecodedImage& a, const DecodedImage& b) {
    if (a.width != b.width || a.height != b.height || a.transparent != b.transparent ||
        a.Indexed() != b.Indexed())
        return false;
    if (!a.Indexed()) return a.pixels == b.pixels;
    const size_t count = static_cast<size_t>(a.width) * static_cast<size_t>(a.height);
    return (a.palette == b.palette ||
            std::memcmp(a.palette->argb, b.palette->argb, sizeof a.palette->argb) == 0) &&
           std::memcmp(a.indices.get(), b.indices.get(), count) == 0;
}

// The sources of each key; a key has more than one only while sources of the same bytes are
// not yet matched (see PictureSource) or when different bytes share a hash. Keys whose sources
// have all died are swept when the table has doubled since the last sweep.
class Cache {
public:
    std::shared_ptr<PictureSource> Find(const Content& content) {
        for (auto& living : Living(Key{content.hash, content.size})) {
            // Compared outside the lock.
            if (living->Holds(content)) return living;
        }
        return nullptr;
    }

    // One look-up under the lock: the bytes are compared there only for a source of the same
    // hash and length, which fresh bytes rarely have.
    std::shared_ptr<PictureSource> Share(const Content& content,
                                         std::shared_ptr<PictureSource> made) {
        std::lock_guard<std::mutex> hold(lock_);
        auto& sources = entries_[Key{content.hash, content.size}];
        for (const auto& weak : sources) {
            auto living = weak.lock();
            if (living != nullptr && living->Holds(content)) return living;
        }
        DropDead(sources);  // the same bytes loaded again and again keep one key
        sources.push_back(made);
        if (entries_.size() >= 2 * sweptSize_) SweepLocked();
        return made;
    }

    // An image equal to image, decoded already by another living source of the same key.
    std::shared_ptr<const DecodedImage> Twin(const PictureSource& source,
                                             const DecodedImage& image) {
        for (auto& living : Living(Key{source.Hash(), source.Size()}, &source)) {
            auto other = living->Decoded();
            if (other != nullptr && SameImage(*other, image)) return other;
        }
        return nullptr;
    }

    size_t LivingBytes() {
        std::vector<std::shared_ptr<PictureSource>> living;
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (const auto& [key, sources] : entries_) {
                for (const auto& weak : sources) {
                    if (auto source = weak.lock()) living.push_back(std::move(source));
                }
            }
        }
        std::unordered_set<const DecodedImage*> counted;
        size_t total = 0;
        for (const auto& source : living) {
            auto image = source->Decoded();
            if (image != nullptr && counted.insert(image.get()).second) total += BytesOf(*image);
        }
        return total;  // the sources die, if they are the last, outside the lock
    }

private:
    // The living sources of key but except; none without an allocation when except is alone.
    std::vector<std::shared_ptr<PictureSource>> Living(const Key& key,
                                                       const PictureSource* except = nullptr) {
        std::vector<std::shared_ptr<PictureSource>> living;
        std::lock_guard<std::mutex> hold(lock_);
        auto it = entries_.find(key);
        if (it == entries_.end()) return living;
        for (const auto& weak : it->second) {
            auto source = weak.lock();
            if (source != nullptr && source.get() != except) living.push_back(std::move(source));
        }
        return living;
    }

    static void DropDead(std::vector<std::weak_ptr<PictureSource>>& sources) {
        sources.erase(std::remove_if(sources.begin(), sources.end(),
                                     [](const auto& weak) { return weak.expired(); }),
                      sources.end());
    }

    void SweepLocked() {
        for (auto it = entries_.begin(); it != entries_.end();) {
            DropDead(it->second);
            it = it->second.empty() ? entries_.erase(it) : std::next(it);
        }
        sweptSize_ = std::max<size_t>(entries_.size(), kFirstSweep);
    }

    static constexpr size_t kFirstSweep = 64;
    std::mutex lock_;
    std::unordered_map<Key, std::vector<std::weak_ptr<PictureSource>>, KeyHash> entries_;
    size_t sweptSize_ = kFirstSweep;
};

Cache& TheCache() {
    static Cache* cache = new Cache;  // never destroyed: pictures may outlive static objects
    return *cache;
}

}  // namespace

// XXH3 only spreads pictures over the table: equal hashes are confirmed by comparing the bytes,
// so it need not resist crafted collisions.
Content ContentOf(const uint8_t* data, size_t size) {
    return Content{data, size, XXH3_64bits(data, size)};
}

PictureSource::PictureSource(const Content& content, Decoder decode, int width, int height)
    : bytes_(
          std::make_shared<const std::vector<uint8_t>>(content.data, content.data + content.size)),
      decode_(decode),
      hash_(content.hash),
      size_(content.size),
      width_(width),
      height_(height) {}

PictureSource::PictureSource(const Content& content, DecodedImage&& image)
    : decode_(nullptr),
      hash_(content.hash),
      size_(content.size),
      width_(image.width),
      height_(image.height) {
    Keep(std::move(image));
    settled_.store(true, std::memory_order_release);
}

// The image, or an equal one that another source of the same key holds already.
void PictureSource::Keep(DecodedImage&& image) {
    if (!image.Indexed()) FindTransparency(&image);
    std::shared_ptr<const DecodedImage> kept = TheCache().Twin(*this, image);
    if (kept == nullptr) kept = std::make_shared<const DecodedImage>(std::move(image));
    std::atomic_store(&image_, std::move(kept));
    std::atomic_store(&bytes_, std::shared_ptr<const std::vector<uint8_t>>());
}

const DecodedImage* PictureSource::Image() {
    // Once settled, image_ never changes again: no lock (and no system call) on later draws.
    if (settled_.load(std::memory_order_acquire)) return image_.get();
    std::lock_guard<std::mutex> hold(decodeLock_);
    if (!settled_.load(std::memory_order_relaxed)) {
        try {
            const auto bytes = std::atomic_load(&bytes_);
            DecodedImage image;
            // The check promised this size; anything else is refused rather than drawn.
            if (decode_ != nullptr && decode_(bytes->data(), bytes->size(), &image) &&
                image.width == width_ && image.height == height_)
                Keep(std::move(image));
        } catch (const std::bad_alloc&) {
            return nullptr;  // not settled: the next call decodes again
        }
        settled_.store(true, std::memory_order_release);
    }
    // Set under the lock, which every caller has passed; the pictures keep the source, and the
    // source its image.
    return image_.get();
}

bool PictureSource::Holds(const Content& content) const {
    const auto bytes = std::atomic_load(&bytes_);
    return bytes != nullptr && bytes->size() == content.size &&
           (content.size == 0 || std::memcmp(bytes->data(), content.data, content.size) == 0);
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
