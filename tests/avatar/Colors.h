// The colours of the test pictures (0x00RRGGBB, as the captured screen gives them).
#pragma once

#include <cstdint>

namespace avatar_test {

constexpr uint32_t kUserColor = 0xD02020;          // the user's own picture
constexpr uint32_t kNewerUserColor = 0x20D0D0;     // the same picture after an update
constexpr uint32_t kPlaceholder1Color = 0x2020D0;  // download1.gif
constexpr uint32_t kPlaceholder2Color = 0x2060F0;  // download2.gif
constexpr uint32_t kDefault1Color = 0x808080;      // default1.gif
constexpr uint32_t kDefault2Color = 0x909090;      // default2.gif
constexpr uint32_t kMan1Color = 0x20A020;          // man1.gif
constexpr uint32_t kMan2Color = 0x40C040;          // man2.gif
constexpr uint32_t kWoman1Color = 0xC020C0;        // woman1.gif
constexpr uint32_t kWoman2Color = 0xE040E0;        // woman2.gif

}  // namespace avatar_test
