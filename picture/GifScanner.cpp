// The GIF block scanner and frame splitter: members of CAnimatedPicture that walk the locked
// data at `data` .. `data + dataSize`. They measure blocks and copy bytes; decoding is left to
// the picture loader. Every read is bounded by dataSize: a block that cannot be read whole
// is of kind BlockUnknown or has no length, which ends the walk.
#include <cstring>

#include "AnimatedPicture.h"
#include "GifFormat.h"

void CAnimatedPicture::ReadLogicalScreen() {
    isGif = TRUE;
    screenDescriptor = data + gif::kHeaderSize;
    // Data too short for its screen descriptor has no first block: the walk finds none.
    if (dataSize < gif::kPrologueSize) return;
    if (ScreenDescriptorField(0) == 1) {
        colorTableSize = gif::ColorTableBytes(ScreenDescriptorField(3));
    }
    width = gif::ReadU16(screenDescriptor);
    height = gif::ReadU16(screenDescriptor + 2);
}

void CAnimatedPicture::ResetScanPosition() {
    scanPos = gif::kPrologueSize + static_cast<DWORD>(colorTableSize);
}

int CAnimatedPicture::ScreenDescriptorField(int selector) {
    return gif::ScreenPackedField(data[gif::kScreenPackedOffset], selector);
}

int CAnimatedPicture::ImageDescriptorField(int selector) {
    return gif::ImagePackedField(data[scanPos + gif::kImagePackedOffset], selector);
}

GifBlockKind CAnimatedPicture::ClassifyBlock() {
    if (data == nullptr || scanPos >= dataSize) return BlockUnknown;
    switch (data[scanPos]) {
        case gif::kImageSeparator:
            return BlockImage;
        case gif::kTrailer:
            return BlockTrailer;
        case gif::kExtensionIntroducer:
            break;
        default:
            return BlockUnknown;
    }
    if (!gif::Fits(dataSize, scanPos, 2)) return BlockUnknown;
    switch (data[scanPos + 1]) {
        case gif::kApplicationLabel:
            return BlockApplication;
        case gif::kCommentLabel:
            return BlockComment;
        case gif::kGraphicControlLabel:
            return BlockGraphicControl;
        case gif::kPlainTextLabel:
            return BlockPlainText;
        default:
            return BlockOtherExtension;
    }
}

int CAnimatedPicture::SubBlocksLength(DWORD offset) {
    return gif::ChainLength(data, dataSize, offset);
}

int CAnimatedPicture::BlockLength() {
    // A chain that cannot be measured makes the whole block 0 long.
    auto withChain = [this](DWORD fixed) -> int {
        if (!gif::Fits(dataSize, scanPos, fixed)) return 0;
        const int chain = SubBlocksLength(scanPos + fixed);
        if (chain <= 0 || static_cast<ULONGLONG>(chain) + fixed > 0x7FFFFFFFu) return 0;
        return static_cast<int>(fixed) + chain;
    };
    switch (ClassifyBlock()) {
        case BlockApplication:
            return withChain(gif::kApplicationFixed);
        case BlockComment:
            return withChain(gif::kCommentFixed);
        case BlockGraphicControl:
            return withChain(gif::kGraphicControlFixed);
        case BlockOtherExtension:
            return withChain(gif::kExtensionFixed);
        case BlockPlainText:
            return withChain(gif::kPlainTextFixed);
        case BlockImage: {
            if (!gif::Fits(dataSize, scanPos, gif::kImageDescriptorSize)) return 0;
            DWORD localTable = 0;
            if (ImageDescriptorField(0) == 1) {
                localTable = static_cast<DWORD>(gif::ColorTableBytes(ImageDescriptorField(3)));
            }
            return withChain(gif::kImageFixed + localTable);
        }
        case BlockTrailer:
            return 1;
        case BlockUnknown:
            break;
    }
    return -1;
}

BOOL CAnimatedPicture::AdvanceBlock() {
    if (data == nullptr) return FALSE;
    const int length = BlockLength();
    if (length <= 0) return FALSE;
    if (!gif::Fits(dataSize, scanPos, static_cast<DWORD>(length))) return FALSE;
    scanPos += static_cast<DWORD>(length);
    return TRUE;
}

BOOL CAnimatedPicture::WalkNextImage(DWORD* frameStart, DWORD* controlBlock, DWORD* renderBlock) {
    if (data == nullptr) return FALSE;

    // Application, comment and unknown extensions in front of a frame are not part of it.
    GifBlockKind kind = ClassifyBlock();
    while (kind == BlockApplication || kind == BlockComment || kind == BlockOtherExtension) {
        if (!AdvanceBlock()) return FALSE;
        kind = ClassifyBlock();
    }
    if (kind == BlockUnknown || kind == BlockTrailer) return FALSE;
    if (BlockLength() <= 0) return FALSE;

    *frameStart = scanPos;
    *controlBlock = kNoBlock;
    if (kind == BlockGraphicControl) {
        *controlBlock = scanPos;
        if (!AdvanceBlock()) return FALSE;
        for (;;) {
            kind = ClassifyBlock();
            if (kind == BlockImage || kind == BlockPlainText) break;
            if (kind == BlockUnknown || kind == BlockTrailer) return FALSE;
            if (!AdvanceBlock()) return FALSE;
        }
    }
    *renderBlock = scanPos;
    return AdvanceBlock();
}

void CAnimatedPicture::ReadImagePlace(DWORD renderBlock, int* extent, int* offset) {
    if (data[renderBlock] == gif::kImageSeparator) {
        const BYTE* descriptor = data + renderBlock;
        extent[0] = gif::ReadU16(descriptor + gif::kImageWidthOffset);
        extent[1] = gif::ReadU16(descriptor + gif::kImageHeightOffset);
        offset[0] = gif::ReadU16(descriptor + gif::kImageLeftOffset);
        offset[1] = gif::ReadU16(descriptor + gif::kImageTopOffset);
    } else {
        // Plain text has no descriptor of its own; it is drawn over the whole logical screen.
        extent[0] = width;
        extent[1] = height;
        offset[0] = 0;
        offset[1] = 0;
    }
}

RECT CAnimatedPicture::FirstImagePlace() {
    RECT place = {0, 0, width, height};
    DWORD frameStart, controlBlock, renderBlock;
    ResetScanPosition();
    if (WalkNextImage(&frameStart, &controlBlock, &renderBlock)) {
        int extent[2], offset[2];
        ReadImagePlace(renderBlock, extent, offset);
        place = RECT{offset[0], offset[1], offset[0] + extent[0], offset[1] + extent[1]};
    }
    return place;
}

BOOL CAnimatedPicture::SkipToNextImage() {
    DWORD frameStart, controlBlock, renderBlock;
    return WalkNextImage(&frameStart, &controlBlock, &renderBlock);
}

HGLOBAL CAnimatedPicture::ExtractNextFrame(DWORD* size, int* delay, int* extent, int* offset,
                                           int* disposal) {
    if (data == nullptr) return nullptr;
    *disposal = 0;

    DWORD frameStart, controlBlock, renderBlock;
    if (!WalkNextImage(&frameStart, &controlBlock, &renderBlock)) return nullptr;

    if (controlBlock != kNoBlock) {
        // The walk measured the block's sub-blocks inside the data; fields that its first
        // sub-block is too short to hold read as 0.
        const BYTE* gce = data + controlBlock;
        const DWORD fieldsEnd = gif::kGceDataSizeOffset + 1 + gce[gif::kGceDataSizeOffset];
        const bool hasDelay = fieldsEnd >= gif::kGceDelayOffset + 2;
        *delay = hasDelay ? gif::ReadU16(gce + gif::kGceDelayOffset) : 0;
        *disposal = fieldsEnd > gif::kGcePackedOffset ? (gce[gif::kGcePackedOffset] >> 2) & 7 : 0;
    } else {
        *delay = -1;
    }

    ReadImagePlace(renderBlock, extent, offset);

    const DWORD prologue = gif::kPrologueSize + static_cast<DWORD>(colorTableSize);
    const DWORD span = scanPos - frameStart;
    const ULONGLONG total = static_cast<ULONGLONG>(prologue) + span + 1;
    if (total > 0xFFFFFFFFu) return nullptr;

    // A fixed block's handle is its address: no lock is needed to write it.
    HGLOBAL block = GlobalAlloc(GMEM_FIXED, static_cast<SIZE_T>(total));
    if (block == nullptr) return nullptr;
    BYTE* out = static_cast<BYTE*>(block);
    std::memcpy(out, data, prologue);
    std::memcpy(out + prologue, data + frameStart, span);
    out[prologue + span] = gif::kTrailer;

    *size = static_cast<DWORD>(total);
    return block;
}
