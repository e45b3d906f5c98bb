// Telling what each control shows: the dialog's captured pixels under a control are compared
// with every picture the control could show there (composed over the background under it),
// and the best match above a threshold names what is on screen. A change of name is one line
// of the timeline.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "Artwork.h"

namespace demo {

struct Candidate {
    std::string label;  // what the timeline prints, e.g. "placeholder download2.gif"
    int width = 0;
    int height = 0;
    std::vector<Pixels> looks;  // one per frame for an animation, else one
};

// Share of pixels that must agree for a candidate to count as shown.
constexpr double kMatchThreshold = 0.95;

struct Sighting {
    std::string label;  // empty: nothing recognisable
    int look = -1;      // which frame of the candidate
};

// The best candidate for the region of `frame` (frameWidth pixels wide) at (left, top).
Sighting Recognise(const Pixels& frame, int frameWidth, int frameHeight, int left, int top,
                   const std::vector<Candidate>& candidates);

// The pixels of `frame` in the rectangle (left, top, width, height), clipped with zeros.
Pixels Region(const Pixels& frame, int frameWidth, int frameHeight, int left, int top, int width,
              int height);

class ControlTrack {
public:
    ControlTrack(std::string name, std::vector<Candidate> candidates)
        : name_(std::move(name)), candidates_(std::move(candidates)) {}

    const std::string& name() const { return name_; }
    const std::vector<Candidate>& candidates() const { return candidates_; }
    void AddCandidate(Candidate candidate) { candidates_.push_back(std::move(candidate)); }

    // Records what the control shows at `seconds`; prints a line when it changed.
    void Observe(double seconds, const Sighting& sighting, FILE* out);

    const std::string& current() const { return current_; }
    bool Saw(const std::string& label) const;
    int DistinctLooks(const std::string& label) const;  // frames of `label` seen so far

private:
    std::string name_;
    std::vector<Candidate> candidates_;
    std::string current_ = "(not yet seen)";
    bool started_ = false;
    std::vector<std::pair<std::string, int>> seen_;  // label and look, each once
};

}  // namespace demo
