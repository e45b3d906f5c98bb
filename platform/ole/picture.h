// The picture object behind IPicture. Private to the OLE family.
#pragma once

#include <olectl.h>

#include <memory>

#include "ole/decoded_cache.h"

namespace platform_ole {

// A picture of source (shared), with one reference. Null when memory runs out.
IPicture* CreatePicture(std::shared_ptr<PictureSource> source);

// HIMETRIC (0.01 mm) from pixels at the display's 96 pixels per inch.
LONG PixelsToHimetric(int pixels);

}  // namespace platform_ole
