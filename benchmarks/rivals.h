// Two textbook line simplifiers, written plainly as a user of a library of
// them would, for SimplifyPath to be measured against. Both read a packed
// array of points, write the points they keep into `kept` (room for n) and
// return how many they kept; the first and the last point always stay. Neither
// checks anything nor promises any bits: they are yardsticks, not the rules.
// rivals.cpp is compiled with -O3.
#ifndef VESTREL_BENCHMARKS_RIVALS_H
#define VESTREL_BENCHMARKS_RIVALS_H

#include <stdint.h>

#include "controldata/control_data.h"

// Reumann-Witkam: a strip of half-width `tolerance` around the line through a
// key point and its successor; points inside the strip are dropped, and the
// last one before the first point outside becomes the next key.
int32_t ReumannWitkam(const Fxyzu* points, int32_t n, float tolerance, Fxyzu* kept);

// A one-pass angle filter: a point stays when the direction from the last
// kept point to it and the direction from it to the next point make a larger
// angle than the tolerance (cosLimit is the cosine of the tolerance).
int32_t AngleFilter(const Fxyzu* points, int32_t n, float cosLimit, Fxyzu* kept);

#endif
