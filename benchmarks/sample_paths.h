// Sampled motion paths for the benchmarks: one position per frame, as 'SETM'
// captures them (x, y, z rounded to float, u the frame number).
#ifndef VESTREL_BENCHMARKS_SAMPLE_PATHS_H
#define VESTREL_BENCHMARKS_SAMPLE_PATHS_H

#include <stdint.h>

#include <string>
#include <vector>

#include "controldata/control_data.h"

enum class PathShape {
  kHelix,       // smooth 3-D curve: a helix that rises and falls, 0.2 degrees a frame
  kNoisyHelix,  // the same helix with jitter larger than a frame's step
  kStraight,    // a straight line at one unit a frame (exact in float up to 10 million)
  kStandStill,  // the child never moves
  kPauses,      // the helix, standing still for 50 frames after every 100
};

constexpr PathShape kAllShapes[] = {PathShape::kHelix, PathShape::kNoisyHelix, PathShape::kStraight,
                                    PathShape::kStandStill, PathShape::kPauses};

std::string ShapeName(PathShape shape);

// n samples of the shape for the frames 0 to n - 1. The same shape and n give
// the same bits on every run.
std::vector<Fxyzu> MakePath(PathShape shape, int32_t n);

#endif
