// 'GENM': hands the host the stored path as one vertex per point and one
// two-vertex polygon between each pair of consecutive points, each vertex
// placed by the group matrix and the group blur matrix of the last 'SETM'.
#include "controldata/control_data.h"
#include "generate/generate_records.h"
#include "geometry/group_matrix.h"
#include "geometry/vector_math.h"
#include "host/handlers.h"
#include "host/host_proc.h"
#include "host/info_record.h"

#include <string.h>

namespace {

// The 'XOLR' host wants its group fetched and deleted before the geometry
// comes. Neither call's failure counts: the result code goes back to 0.
void ReleaseHostGroup() {
  HostGetGroupRec group;
  group.owner = theInfo->owner;
  group.fixedValue = 1;
  if (HostCall(kSelectorGetGroup, group)) {
    HostDeleteGroupRec deletion;
    deletion.owner = theInfo->owner;
    deletion.groupReference = group.groupReference;
    HostCall(kSelectorDeleteGroup, deletion);
  }
  theError = kResultOk;
}

// The point that goes out at emission position j of n. Reversed, the path
// runs from the last stored point to the first, and u counts the frames back
// from the last point, so that the first vertex has u = 0.
Fxyzu PointToEmit(CControlData& block, int32_t n, int32_t j) {
  if (block.reverseFlag == 0) return *block.Point(j);
  Fxyzu point = *block.Point(n - 1 - j);
  point.u = block.Point(n - 1)->u - point.u;  // single precision
  return point;
}

// Fills the per-vertex fields from the point, places the vertex by both
// matrices and sends 'ADDV'. True when the host accepted it; the host wrote
// the new vertex's index into the record.
bool AddVertex(HostModelAddVertexRec& record, const Fxyzu& point) {
  // The placed points are worked out in aligned arrays and copied in: the
  // macOS layout packs the record's doubles at 4-byte offsets, where a
  // double* may not point.
  double position[3] = {static_cast<double>(point.x), static_cast<double>(point.y),
                        static_cast<double>(point.z)};
  double blurPosition[3] = {position[0], position[1], position[2]};
  TransformDCoordinate(position, theGroupMatrix);
  TransformDCoordinate(blurPosition, theGroupBlurMatrix);
  memcpy(record.position, position, sizeof position);
  memcpy(record.blurPosition, blurPosition, sizeof blurPosition);
  record.fixedVector[0] = 0.0;
  record.fixedVector[1] = 0.0;
  record.fixedVector[2] = 1.0;
  record.uVector[0] = static_cast<double>(point.u);
  record.uVector[1] = 0.0;
  record.uVector[2] = 0.0;
  return HostCall(kSelectorAddVertex, record);
}

}  // namespace

void ModelGenerate() {
  if (theCreator == kCreatorXolr) ReleaseHostGroup();

  // The fetch bounds the stored count by what the block can hold, so a
  // damaged count never makes the loop read past the block.
  CControlData* block = GetControlData(-1);
  if (block == nullptr || block->pointCount < 2) return;
  const int32_t n = block->pointCount;

  HostModelAddVertexRec vertex;
  vertex.owner = theInfo->owner;
  vertex.fixedValue = -1;
  HostModelAddFaceRec face;
  face.owner = theInfo->owner;
  face.fixedValue = -1;
  face.vertexCount = 2;
  face.furtherFields[0] = 0;
  face.furtherFields[1] = 0;

  // The first failed call ends the generation; what was sent stays with the
  // host. The polygons join the indices the host handed out, whatever they are.
  if (!AddVertex(vertex, PointToEmit(*block, n, 0))) return;
  int32_t current = vertex.vertexIndex;
  for (int32_t j = 1; j < n; ++j) {
    const int32_t previous = current;
    if (!AddVertex(vertex, PointToEmit(*block, n, j))) return;
    current = vertex.vertexIndex;
    face.firstVertex = previous;
    face.secondVertex = current;
    if (!HostCall(kSelectorAddFace, face)) return;
  }
}
