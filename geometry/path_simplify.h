// Thinning of a sampled motion path before it is stored: samples that repeat
// the next one are dropped, then samples at which the path runs on within the
// angle tolerance. The survivors go, in frame order, into the parameter block.
#ifndef VESTREL_GEOMETRY_PATH_SIMPLIFY_H
#define VESTREL_GEOMETRY_PATH_SIMPLIFY_H

#include "controldata/control_data.h"

// One sample in the temporary list. The nodes lie in one array in frame order
// (host memory from 'MMAL'); dropping a node only relinks its neighbours
// around it, the dropped node keeps its own links.
struct PathNode {
  Fxyzu point;     // position and the frame it was sampled at
  PathNode* next;  // the following surviving sample; null for the last
  PathNode* prev;  // the preceding surviving sample; null for the first
};

// The limit that dot products of unit directions are compared with, from the
// angle tolerance in degrees: cos(tolerance), taken in double precision and
// rounded to float; 2.0 for a negative tolerance, which no dot product of unit
// vectors reaches, so that only repeats are dropped. A NaN tolerance gives a
// NaN limit, with which no comparison holds.
float AngleLimit(float angleToleranceDegrees);

// Whether two samples are the same point: every coordinate differs by less
// than 0.00005 (a NaN difference is never less).
bool SamePoint(const PathNode& a, const PathNode& b);

// Whether the sample may be dropped: neither the path at it nor the chord
// that would replace it turns by more than the limit c at the sample, its
// predecessor or its successor. The node must have both a predecessor and a
// successor.
bool CanRemoveNode(const PathNode& node, float c);

// Links the n nodes of the array, drops repeats (node 0 is never compared with
// node 1; of a run of equal samples the last stays), then walks the list once
// from the front and drops every node that CanRemoveNode allows, each test
// seeing the list as the earlier ones left it. The first and the last node
// always stay. Then resizes the parameter block for the survivors through the
// host and copies their points into it. Every node's links end as this
// linking and unlinking leaves them. (All in one sweep, four or eight samples
// at a time, with the same arithmetic: see path_sweep_lanes.h.)
// Returns true when the points were stored. False when the host refused the
// resize (its error stays in theError) or granted a smaller block than asked
// (theError is then 0); the block keeps its old points in both cases.
bool SimplifyPath(PathNode* nodes, int n, float c);

#endif
