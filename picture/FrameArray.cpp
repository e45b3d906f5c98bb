#include <cstdlib>

#include "AnimatedPicture.h"

BOOL CFrameArray::Add(const FrameRecord& record) {
    if (count == capacity) {
        const int grown = capacity == 0 ? 1 : capacity * 2;
        if (grown <= capacity) return FALSE;
        void* bigger = std::realloc(records, sizeof(FrameRecord) * static_cast<size_t>(grown));
        if (bigger == nullptr) return FALSE;
        records = static_cast<FrameRecord*>(bigger);
        capacity = grown;
    }
    records[count++] = record;
    return TRUE;
}

void CFrameArray::FreeStorage() {
    std::free(records);
    records = nullptr;
    count = 0;
    capacity = 0;
}
