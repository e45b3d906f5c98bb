// Whether a complete 200 body is a picture the avatar control's loader would take, judged
// before it may replace anything stored: a captive portal's page or a misrouted proxy's answer
// must not take the place of a good picture.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace nimbrel {

// Collects what the judgement needs of a body as it streams: its first and last bytes and its
// length.
class BodyShape {
public:
    static constexpr size_t kHeadBytes = 8;
    static constexpr size_t kTailBytes = 12;

    void Add(std::string_view data);

    // Empty when the body is a picture of a known kind (GIF, PNG, JPEG, BMP) and, when only the
    // connection's close ended it, whole as that kind ends; else why it is not. A framed body
    // (a stated length, chunks, HTTP/2) is whole as curl checked it: its tail is not looked at,
    // since the loader takes a picture with bytes after its end or without its trailer.
    std::string WhyNotAPicture(bool framed) const;

private:
    std::string m_head;
    std::string m_tail;
    size_t m_length = 0;
};

}  // namespace nimbrel
