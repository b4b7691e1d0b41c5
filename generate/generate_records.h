// The records of line generation ('GENM'): vertices, two-vertex polygons, and
// the group of the 'XOLR' host variant. Fields named reserved or padding are
// never set and never read.
#ifndef VESTREL_GENERATE_GENERATE_RECORDS_H
#define VESTREL_GENERATE_GENERATE_RECORDS_H

#include <stdint.h>

#include "host/host_proc.h"
#include "host/record_layout.h"

VESTREL_BEGIN_RECORDS

// 'ADDV': one record serves every vertex of a call.
struct HostModelAddVertexRec {
  HostOpaque owner;        // sent once: the owner value
  double position[3];      // sent: the point placed by the group matrix
  int32_t fixedValue;      // sent once: -1
  double fixedVector[3];   // sent: (0, 0, 1)
  double blurPosition[3];  // sent: the point placed by the group blur matrix
  double uVector[3];       // sent: (u, 0, 0), u the point's frame
  int32_t vertexIndex;     // returned: the index the host gave the new vertex
};

// 'ADDF': one record serves every polygon of a call. Nothing is read back.
struct HostModelAddFaceRec {
  HostOpaque owner;     // sent once: the owner value
  int32_t fixedValue;   // sent once: -1
  int16_t vertexCount;  // sent once: 2
  int16_t reserved;
  int32_t firstVertex;       // sent: the index of the previous vertex
  int32_t secondVertex;      // sent: the index of the new vertex
  int32_t furtherFields[2];  // sent once: 0, 0
};

// 'GETG' ('XOLR' hosts only): the host hands out a group reference.
struct HostGetGroupRec {
  HostOpaque owner;             // sent: the owner value
  int32_t fixedValue;           // sent: 1
  HostOpaque groupReference;    // returned: handed on to 'DELG'
  unsigned char reserved[396];  // filled by the host, not read
};

// 'DELG' ('XOLR' hosts only): the host deletes that group.
struct HostDeleteGroupRec {
  HostOpaque owner;           // sent: the owner value
  HostOpaque groupReference;  // sent: what 'GETG' returned
};

VESTREL_END_RECORDS

VESTREL_CHECK_OFFSET(HostModelAddVertexRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostModelAddVertexRec, position, 8, 8, 8);
VESTREL_CHECK_OFFSET(HostModelAddVertexRec, fixedValue, 32, 32, 32);
VESTREL_CHECK_OFFSET(HostModelAddVertexRec, fixedVector, 40, 40, 36);
VESTREL_CHECK_OFFSET(HostModelAddVertexRec, blurPosition, 64, 64, 60);
VESTREL_CHECK_OFFSET(HostModelAddVertexRec, uVector, 88, 88, 84);
VESTREL_CHECK_OFFSET(HostModelAddVertexRec, vertexIndex, 112, 112, 108);
VESTREL_CHECK_SIZE(HostModelAddVertexRec, 120, 120, 112);

VESTREL_CHECK_OFFSET(HostModelAddFaceRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostModelAddFaceRec, fixedValue, 4, 8, 8);
VESTREL_CHECK_OFFSET(HostModelAddFaceRec, vertexCount, 8, 12, 12);
VESTREL_CHECK_OFFSET(HostModelAddFaceRec, reserved, 10, 14, 14);
VESTREL_CHECK_OFFSET(HostModelAddFaceRec, firstVertex, 12, 16, 16);
VESTREL_CHECK_OFFSET(HostModelAddFaceRec, secondVertex, 16, 20, 20);
VESTREL_CHECK_OFFSET(HostModelAddFaceRec, furtherFields, 20, 24, 24);
VESTREL_CHECK_SIZE(HostModelAddFaceRec, 28, 32, 32);

VESTREL_CHECK_OFFSET(HostGetGroupRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostGetGroupRec, fixedValue, 4, 8, 8);
VESTREL_CHECK_OFFSET(HostGetGroupRec, groupReference, 8, 16, 12);
VESTREL_CHECK_OFFSET(HostGetGroupRec, reserved, 12, 24, 20);
VESTREL_CHECK_SIZE(HostGetGroupRec, 408, 424, 416);

VESTREL_CHECK_OFFSET(HostDeleteGroupRec, owner, 0, 0, 0);
VESTREL_CHECK_OFFSET(HostDeleteGroupRec, groupReference, 4, 8, 8);
VESTREL_CHECK_SIZE(HostDeleteGroupRec, 8, 16, 16);

#endif
