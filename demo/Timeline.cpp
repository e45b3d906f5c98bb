#include "Timeline.h"

#include <algorithm>

namespace demo {

Pixels Region(const Pixels& frame, int frameWidth, int frameHeight, int left, int top, int width,
              int height) {
    Pixels region(static_cast<size_t>(width * height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int fx = left + x, fy = top + y;
            if (fx >= 0 && fy >= 0 && fx < frameWidth && fy < frameHeight)
                region[static_cast<size_t>(y * width + x)] =
                    frame[static_cast<size_t>(fy * frameWidth + fx)];
        }
    return region;
}

Sighting Recognise(const Pixels& frame, int frameWidth, int frameHeight, int left, int top,
                   const std::vector<Candidate>& candidates) {
    Sighting best;
    double bestScore = -1.0;
    for (const Candidate& candidate : candidates) {
        const Pixels region =
            Region(frame, frameWidth, frameHeight, left, top, candidate.width, candidate.height);
        for (size_t look = 0; look < candidate.looks.size(); ++look) {
            const Pixels& expected = candidate.looks[look];
            size_t same = 0;
            for (size_t i = 0; i < region.size(); ++i) same += region[i] == expected[i];
            const double score =
                region.empty() ? 0.0
                               : static_cast<double>(same) / static_cast<double>(region.size());
            if (score >= kMatchThreshold && score > bestScore) {
                bestScore = score;
                best.label = candidate.label;
                best.look = static_cast<int>(look);
            }
        }
    }
    return best;
}

void ControlTrack::Observe(double seconds, const Sighting& sighting, FILE* out) {
    const std::string label = sighting.label.empty() ? "(nothing recognisable)" : sighting.label;
    const std::pair<std::string, int> key(label, sighting.look);
    if (std::find(seen_.begin(), seen_.end(), key) == seen_.end()) seen_.push_back(key);
    if (started_ && label == current_) return;
    started_ = true;
    current_ = label;
    std::fprintf(out, "%7.3fs  %-14s %s\n", seconds, name_.c_str(), label.c_str());
    std::fflush(out);
}

bool ControlTrack::Saw(const std::string& label) const {
    return std::any_of(seen_.begin(), seen_.end(),
                       [&](const auto& entry) { return entry.first == label; });
}

int ControlTrack::DistinctLooks(const std::string& label) const {
    return static_cast<int>(std::count_if(seen_.begin(), seen_.end(),
                                          [&](const auto& entry) { return entry.first == label; }));
}

}  // namespace demo
