// OLE controls: the IPicture interface and OleLoadPicture.
//
// A loaded picture is an immutable bitmap (PICTYPE_BITMAP). Its size is reported in HIMETRIC
// units (0.01 mm) at 96 pixels per inch, and Render takes its source rectangle in the same
// units with the y axis pointing upwards, as the original does.
#pragma once
#include "windef.h"
#include "ole2.h"

typedef UINT OLE_HANDLE;
typedef LONG OLE_XPOS_HIMETRIC;
typedef LONG OLE_YPOS_HIMETRIC;
typedef LONG OLE_XSIZE_HIMETRIC;
typedef LONG OLE_YSIZE_HIMETRIC;
typedef LONG OLE_XPOS_PIXELS;
typedef LONG OLE_YPOS_PIXELS;
typedef LONG OLE_XSIZE_PIXELS;
typedef LONG OLE_YSIZE_PIXELS;

#define PICTYPE_UNINITIALIZED (-1)
#define PICTYPE_NONE 0
#define PICTYPE_BITMAP 1
#define PICTYPE_METAFILE 2
#define PICTYPE_ICON 3
#define PICTYPE_ENHMETAFILE 4

#define PICTURE_SCALABLE 0x1L
#define PICTURE_TRANSPARENT 0x2L

// Errors of the control runtime (facility FACILITY_CONTROL, code = the classic error number).
#define STD_CTL_SCODE(n) ((HRESULT)(0x800A0000L | (n)))
#define CTL_E_ILLEGALFUNCTIONCALL STD_CTL_SCODE(5)
#define CTL_E_OVERFLOW STD_CTL_SCODE(6)
#define CTL_E_OUTOFMEMORY STD_CTL_SCODE(7)
#define CTL_E_FILENOTFOUND STD_CTL_SCODE(53)
#define CTL_E_BADFILEMODE STD_CTL_SCODE(54)
#define CTL_E_DEVICEIOERROR STD_CTL_SCODE(57)
#define CTL_E_INVALIDFILEFORMAT STD_CTL_SCODE(321)
#define CTL_E_INVALIDPROPERTYVALUE STD_CTL_SCODE(380)
#define CTL_E_INVALIDPICTURE STD_CTL_SCODE(481)

extern const IID IID_IPicture;  // {7BF80980-BF32-101A-8BBB-00AA00300CAB}

struct IPicture : public IUnknown {
    // The picture's bitmap (an HBITMAP), which the picture owns and deletes with itself.
    STDMETHOD(get_Handle)(OLE_HANDLE* pHandle) PURE;
    STDMETHOD(get_hPal)(OLE_HANDLE* phPal) PURE;
    STDMETHOD(get_Type)(SHORT* pType) PURE;
    STDMETHOD(get_Width)(OLE_XSIZE_HIMETRIC* pWidth) PURE;
    STDMETHOD(get_Height)(OLE_YSIZE_HIMETRIC* pHeight) PURE;
    // Draws the source rectangle (HIMETRIC, y measured from the bottom of the picture) scaled
    // into the destination rectangle (DC units). Render(dc, x, y, w, h, 0, hmHeight, hmWidth,
    // -hmHeight, NULL) draws the whole picture upright. A zero extent is
    // CTL_E_INVALIDPROPERTYVALUE, a null DC E_INVALIDARG.
    STDMETHOD(Render)
    (HDC hDC, LONG x, LONG y, LONG cx, LONG cy, OLE_XPOS_HIMETRIC xSrc, OLE_YPOS_HIMETRIC ySrc,
     OLE_XSIZE_HIMETRIC cxSrc, OLE_YSIZE_HIMETRIC cySrc, LPCRECT pRcWBounds) PURE;
    STDMETHOD(set_hPal)(OLE_HANDLE hPal) PURE;
    STDMETHOD(get_CurDC)(HDC* phDC) PURE;
    STDMETHOD(SelectPicture)(HDC hDCIn, HDC* phDCOut, OLE_HANDLE* phBmpOut) PURE;
    STDMETHOD(get_KeepOriginalFormat)(BOOL* pKeep) PURE;
    STDMETHOD(put_KeepOriginalFormat)(BOOL keep) PURE;
    STDMETHOD(PictureChanged)() PURE;
    STDMETHOD(SaveAsFile)(LPSTREAM pStream, BOOL fSaveMemCopy, LONG* pCbSize) PURE;
    STDMETHOD(get_Attributes)(DWORD* pDwAttr) PURE;

protected:
    ~IPicture() = default;
};
typedef IPicture* LPPICTURE;

// Decodes a GIF, PNG, JPEG or BMP picture from lSize bytes at the stream's current position
// (lSize <= 0: to the end of the stream). On success *lplpvObj holds the interface asked for,
// with one reference; on failure it is null and the result is an error (CTL_E_INVALIDPICTURE
// for data that is not a picture it can read, E_NOINTERFACE for an interface it lacks).
WINOLEAPI OleLoadPicture(LPSTREAM lpstream, LONG lSize, BOOL fRunmode, REFIID riid,
                         LPVOID* lplpvObj);
