// The picture object behind IPicture. Private to the OLE family.
#pragma once

#include <olectl.h>

#include <memory>

#include "ole/decoded_image.h"

namespace platform_ole {

// A picture holding image (shared, read-only), with one reference. Null when memory runs out.
IPicture* CreatePicture(std::shared_ptr<const DecodedImage> image);

// HIMETRIC (0.01 mm) from pixels at the display's 96 pixels per inch.
LONG PixelsToHimetric(int pixels);

}  // namespace platform_ole
