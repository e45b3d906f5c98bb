// The avatar's version file: arbitrary bytes as SNS\<user>.txt, every entry read, then one
// entry recorded: it must read back as recorded and, in a file of the full size, every other
// entry as it was.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "StoreFiles.h"
#include "VersionFile.h"
#include "temp_dir.h"

namespace {

constexpr int kLowestVersion = -9999;  // "-9999", the lowest five characters hold
constexpr int kHighestVersion = 99999;

const std::string& VersionFilePath() {
    static const portrix_test::TempDir folder;  // under $TMPDIR, which fuzz/run.sh puts in memory
    static const std::string path = folder / "10001.txt";
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    if (size < 4) return 0;
    // The first four bytes choose the entry and the version; the rest is the file.
    const int imageType = 1 + bytes[0] % kVersionImageTypes;
    const int faceMode = bytes[1] % kVersionFaceModes;
    const int version =
        kLowestVersion + (bytes[2] << 8 | bytes[3]) * 2 % (kHighestVersion - kLowestVersion + 1);
    const std::string& path = VersionFilePath();
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) std::abort();
    std::fwrite(bytes + 4, 1, size - 4, out);
    std::fclose(out);

    // Every entry of a full table is read before and compared after; of a short one, the one.
    const bool fullTable = size - 4 >= static_cast<size_t>(kVersionFileSize);
    int before[kVersionImageTypes + 1][kVersionFaceModes] = {};
    for (int type = 1; type <= kVersionImageTypes; ++type) {
        for (int mode = 0; mode < kVersionFaceModes; ++mode) {
            if (!fullTable && (type != imageType || mode != faceMode)) continue;
            if (!ReadRecordedVersion(path.c_str(), type, mode, &before[type][mode])) std::abort();
        }
    }
    int ignored = 0;
    if (ReadRecordedVersion(path.c_str(), 0, 0, &ignored) ||
        ReadRecordedVersion(path.c_str(), 1, 10, &ignored)) {
        std::abort();
    }
    RecordVersion(path.c_str(), imageType, faceMode, version);
    int recorded = 0;
    if (!ReadRecordedVersion(path.c_str(), imageType, faceMode, &recorded) || recorded != version)
        std::abort();
    if (!fullTable) return 0;
    for (int type = 1; type <= kVersionImageTypes; ++type) {
        for (int mode = 0; mode < kVersionFaceModes; ++mode) {
            int now = 0;
            if (type == imageType && mode == faceMode) continue;
            if (!ReadRecordedVersion(path.c_str(), type, mode, &now) || now != before[type][mode])
                std::abort();
        }
    }
    return 0;
}
