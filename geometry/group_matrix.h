// The group's placement as the last 'SETM' of the process found it. 'SETM'
// copies both matrices from its info record; 'GENM' places every vertex with
// them. They are process-wide, shared by every instance, and zero before the
// first 'SETM'.
#ifndef VESTREL_GEOMETRY_GROUP_MATRIX_H
#define VESTREL_GEOMETRY_GROUP_MATRIX_H

#include "geometry/vector_math.h"

extern double theGroupMatrix[kMatrixElements];
extern double theGroupBlurMatrix[kMatrixElements];

#endif
