// 'GENM' as the host sees it: vertices, two-vertex polygons, the reverse flag,
// the 'XOLR' variant and every way it can stop.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "generate/generate_records.h"
#include "geometry/group_matrix.h"
#include "host/entry.h"
#include "tests/support/test_host.h"

namespace {

using Face = std::pair<int32_t, int32_t>;
using Point3 = std::array<double, 3>;

std::vector<HostModelAddVertexRec> VerticesSent(const TestHost& host) {
  std::vector<HostModelAddVertexRec> vertices;
  for (const RecordedCall* call : host.CallsOf(kSelectorAddVertex)) {
    vertices.push_back(call->Sent<HostModelAddVertexRec>());
  }
  return vertices;
}

std::vector<Face> FacesSent(const TestHost& host) {
  std::vector<Face> faces;
  for (const RecordedCall* call : host.CallsOf(kSelectorAddFace)) {
    auto face = call->Sent<HostModelAddFaceRec>();
    faces.emplace_back(face.firstVertex, face.secondVertex);
  }
  return faces;
}

Point3 Of(const double (&v)[3]) { return {v[0], v[1], v[2]}; }

std::vector<double> Us(const TestHost& host) {
  std::vector<double> us;
  for (const HostModelAddVertexRec& v : VerticesSent(host)) us.push_back(v.uVector[0]);
  return us;
}

std::vector<Point3> Positions(const TestHost& host) {
  std::vector<Point3> positions;
  for (const HostModelAddVertexRec& v : VerticesSent(host)) positions.push_back(Of(v.position));
  return positions;
}

std::vector<Point3> BlurPositions(const TestHost& host) {
  std::vector<Point3> positions;
  for (const HostModelAddVertexRec& v : VerticesSent(host)) positions.push_back(Of(v.blurPosition));
  return positions;
}

void SetMatrix(double* m, double scale, double dx, double dy, double dz) {
  for (int i = 0; i < 16; ++i) m[i] = 0;
  m[0] = m[5] = m[10] = scale;
  m[15] = 1;
  m[12] = dx;
  m[13] = dy;
  m[14] = dz;
}

const std::vector<Fxyzu> kThreePoints = {{1, 2, 3, 1}, {4, 5, 6, 5}, {7, 8, 9.5f, 9}};

class ModelGenerateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCreator_ = theCreator;
    theCreator = FourCC("TEST");
    memcpy(savedMatrix_, theGroupMatrix, sizeof savedMatrix_);
    memcpy(savedBlurMatrix_, theGroupBlurMatrix, sizeof savedBlurMatrix_);
    SetMatrix(theGroupMatrix, 1, 0, 0, 0);
    SetMatrix(theGroupBlurMatrix, 1, 100, 200, 300);
  }
  // theCreator and the matrices are process-wide: give the other tests back
  // what they had.
  void TearDown() override {
    theCreator = savedCreator_;
    memcpy(theGroupMatrix, savedMatrix_, sizeof savedMatrix_);
    memcpy(theGroupBlurMatrix, savedBlurMatrix_, sizeof savedBlurMatrix_);
  }

  void UseBlock(const std::vector<Fxyzu>& points, int32_t reverse = 0) {
    host_.SetBlock(TestHost::MakeBlock(5.0f, 0, reverse, points));
  }

  TestHost host_;
  uint32_t savedCreator_ = 0;
  double savedMatrix_[16];
  double savedBlurMatrix_[16];
};

TEST_F(ModelGenerateTest, FewerThanTwoPointsSendNothing) {
  for (const std::vector<Fxyzu>& points :
       {std::vector<Fxyzu>{}, std::vector<Fxyzu>{{1, 2, 3, 4}}}) {
    TestHost host;
    host.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, points));
    EXPECT_EQ(host.Send(kSelectorGenerate), 0);
    EXPECT_TRUE(host.calls.empty()) << points.size() << " points";
  }
}

TEST_F(ModelGenerateTest, VerticesThenPolygonsBetweenNeighbours) {
  UseBlock(kThreePoints);

  EXPECT_EQ(host_.Send(kSelectorGenerate), 0);

  EXPECT_EQ(host_.Selectors(),
            (std::vector<uint32_t>{kSelectorAddVertex, kSelectorAddVertex, kSelectorAddFace,
                                   kSelectorAddVertex, kSelectorAddFace}));
  EXPECT_EQ(Positions(host_), (std::vector<Point3>{{1, 2, 3}, {4, 5, 6}, {7, 8, 9.5}}));
  EXPECT_EQ(BlurPositions(host_),
            (std::vector<Point3>{{101, 202, 303}, {104, 205, 306}, {107, 208, 309.5}}));
  EXPECT_EQ(Us(host_), (std::vector<double>{1, 5, 9}));
  EXPECT_EQ(FacesSent(host_), (std::vector<Face>{{0, 1}, {1, 2}}));
  for (const HostModelAddVertexRec& v : VerticesSent(host_)) {
    EXPECT_EQ(v.owner, host_.Owner());
    EXPECT_EQ(v.fixedValue, -1);
    EXPECT_EQ(Of(v.fixedVector), (Point3{0, 0, 1}));
    EXPECT_EQ(v.uVector[1], 0.0);
    EXPECT_EQ(v.uVector[2], 0.0);
  }
  for (const RecordedCall* call : host_.CallsOf(kSelectorAddFace)) {
    auto face = call->Sent<HostModelAddFaceRec>();
    EXPECT_EQ(face.fixedValue, -1);
    EXPECT_EQ(face.vertexCount, 2);
    EXPECT_EQ(face.furtherFields[0], 0);
    EXPECT_EQ(face.furtherFields[1], 0);
  }
  EXPECT_TRUE(host_.violations.empty());
}

TEST_F(ModelGenerateTest, ReverseRunsFromTheLastPointWithUCountedBack) {
  UseBlock(kThreePoints, 1);

  EXPECT_EQ(host_.Send(kSelectorGenerate), 0);

  EXPECT_EQ(Positions(host_), (std::vector<Point3>{{7, 8, 9.5}, {4, 5, 6}, {1, 2, 3}}));
  EXPECT_EQ(Us(host_), (std::vector<double>{0, 4, 8}));
  EXPECT_EQ(FacesSent(host_), (std::vector<Face>{{0, 1}, {1, 2}}));
  EXPECT_EQ(host_.Block()->Point(0)->u, 1.0f) << "the block is not written";
}

TEST_F(ModelGenerateTest, ReversedUIsASinglePrecisionDifference) {
  // 16777218 - 1 = 16777217 has no float; it rounds to 16777216.
  UseBlock({{0, 0, 0, 1}, {1, 0, 0, 16777218.0f}}, 1);

  EXPECT_EQ(host_.Send(kSelectorGenerate), 0);

  EXPECT_EQ(Us(host_), (std::vector<double>{0, 16777216.0}));
}

TEST_F(ModelGenerateTest, VerticesArePlacedByBothMatrices) {
  UseBlock({{0.1f, -2, 3, 0}, {1, 1, 1, 1}});
  SetMatrix(theGroupMatrix, 2, 10, 20, 30);
  theGroupMatrix[3] = theGroupMatrix[7] = 99;  // the fourth column plays no part
  SetMatrix(theGroupBlurMatrix, -1, 0, 0, 0.5);

  EXPECT_EQ(host_.Send(kSelectorGenerate), 0);

  const double x = double(0.1f);  // widened, not re-rounded
  EXPECT_EQ(Positions(host_), (std::vector<Point3>{{x * 2 + 10, 16, 36}, {12, 22, 32}}));
  EXPECT_EQ(BlurPositions(host_), (std::vector<Point3>{{-x, 2, -2.5}, {-1, -1, -0.5}}));
}

struct IndexCase {
  const char* name;
  int32_t first;
  int32_t step;
  std::vector<Face> faces;
};
void PrintTo(const IndexCase& c, std::ostream* out) { *out << c.name; }

class ModelGenerateIndices : public ModelGenerateTest,
                             public ::testing::WithParamInterface<IndexCase> {};

TEST_P(ModelGenerateIndices, PolygonsJoinTheIndicesTheHostReturned) {
  const IndexCase& c = GetParam();
  UseBlock(kThreePoints);
  host_.firstVertexIndex = c.first;
  host_.vertexIndexStep = c.step;

  EXPECT_EQ(host_.Send(kSelectorGenerate), 0);

  EXPECT_EQ(FacesSent(host_), c.faces);
  EXPECT_TRUE(host_.violations.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, ModelGenerateIndices,
    ::testing::Values(IndexCase{"consecutive_from_ten", 10, 1, {{10, 11}, {11, 12}}},
                      IndexCase{"gaps_and_negative", -3, 7, {{-3, 4}, {4, 11}}},
                      IndexCase{"descending", 5, -1, {{5, 4}, {4, 3}}}),
    [](const ::testing::TestParamInfo<IndexCase>& info) { return info.param.name; });

// Call numbers with three points: 0 'ADDV', 1 'ADDV', 2 'ADDF', 3 'ADDV', 4 'ADDF'.
struct StopCase {
  const char* name;
  size_t refusedCall;
  size_t callsMade;
};
void PrintTo(const StopCase& c, std::ostream* out) { *out << c.name; }

class ModelGenerateStop : public ModelGenerateTest,
                          public ::testing::WithParamInterface<StopCase> {};

TEST_P(ModelGenerateStop, FirstFailedCallEndsTheGeneration) {
  const StopCase& c = GetParam();
  UseBlock(kThreePoints);
  host_.RefuseCall(c.refusedCall, 77);

  EXPECT_EQ(host_.Send(kSelectorGenerate), 77);

  EXPECT_EQ(host_.calls.size(), c.callsMade);
  EXPECT_TRUE(host_.violations.empty());
}

INSTANTIATE_TEST_SUITE_P(Refusals, ModelGenerateStop,
                         ::testing::Values(StopCase{"first_vertex", 0, 1},
                                           StopCase{"second_vertex", 1, 2},
                                           StopCase{"first_polygon_sends_no_third_vertex", 2, 3},
                                           StopCase{"third_vertex_leaves_one_polygon", 3, 4},
                                           StopCase{"last_polygon", 4, 5}),
                         [](const ::testing::TestParamInfo<StopCase>& info) {
                           return info.param.name;
                         });

struct XolrCase {
  const char* name;
  std::function<void(TestHost&)> script;
  std::vector<uint32_t> firstCalls;  // before the geometry
};
void PrintTo(const XolrCase& c, std::ostream* out) { *out << c.name; }

class ModelGenerateXolr : public ModelGenerateTest,
                          public ::testing::WithParamInterface<XolrCase> {};

TEST_P(ModelGenerateXolr, GroupCallsNeverStopTheGeneration) {
  const XolrCase& c = GetParam();
  theCreator = kCreatorXolr;
  UseBlock({{0, 0, 0, 0}, {1, 0, 0, 1}});
  c.script(host_);

  EXPECT_EQ(host_.Send(kSelectorGenerate), 0);

  std::vector<uint32_t> expected = c.firstCalls;
  for (uint32_t s : {kSelectorAddVertex, kSelectorAddVertex, kSelectorAddFace})
    expected.push_back(s);
  EXPECT_EQ(host_.Selectors(), expected);
  auto getGroup = host_.calls[0].Sent<HostGetGroupRec>();
  EXPECT_EQ(getGroup.fixedValue, 1);
  if (c.firstCalls.size() == 2) {
    EXPECT_EQ(host_.calls[1].Sent<HostDeleteGroupRec>().groupReference,
              host_.calls[0].Answered<HostGetGroupRec>().groupReference);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, ModelGenerateXolr,
    ::testing::Values(XolrCase{"group_is_fetched_then_deleted",
                               [](TestHost&) {},
                               {kSelectorGetGroup, kSelectorDeleteGroup}},
                      XolrCase{"refused_getg_sends_no_delg",
                               [](TestHost& h) { h.Refuse(kSelectorGetGroup, 8); },
                               {kSelectorGetGroup}},
                      XolrCase{"refused_delg_is_forgotten",
                               [](TestHost& h) { h.Refuse(kSelectorDeleteGroup, 9); },
                               {kSelectorGetGroup, kSelectorDeleteGroup}}),
    [](const ::testing::TestParamInfo<XolrCase>& info) { return info.param.name; });

TEST_F(ModelGenerateTest, StoredCountBeyondTheBlockEmitsOnlyWhatItHolds) {
  std::vector<uint8_t> bytes = TestHost::MakeBlock(5.0f, 0, 0, kThreePoints);
  reinterpret_cast<CControlData*>(bytes.data())->pointCount = 1000;
  host_.SetBlock(bytes);

  EXPECT_EQ(host_.Send(kSelectorGenerate), 0);

  // A block of 52 + 16 * 3 bytes holds three points and its spare slot.
  EXPECT_LE(VerticesSent(host_).size(), 4u);
  EXPECT_GE(VerticesSent(host_).size(), 3u);
}

TEST_F(ModelGenerateTest, MissingBlockIsCreatedAndGivesNoGeometry) {
  EXPECT_EQ(host_.Send(kSelectorGenerate), 0);
  EXPECT_EQ(host_.Selectors(), std::vector<uint32_t>{kSelectorAllocate});

  TestHost refusing;
  refusing.Refuse(kSelectorAllocate, 3);
  EXPECT_EQ(refusing.Send(kSelectorGenerate), 3);
  EXPECT_EQ(refusing.Selectors(), std::vector<uint32_t>{kSelectorAllocate});
}

// The whole job: 'SETM' captures the nine-sample corner path, 'GENM' hands it
// back as a line, forwards and then reversed.
TEST_F(ModelGenerateTest, CapturedPathComesBackAsALine) {
  host_.SetBlock(TestHost::MakeBlock(5.0f, 0, 0, {}));
  host_.firstFrame = 1;
  host_.lastFrame = 9;
  host_.motion = [](uintptr_t, int32_t frame) {
    return frame <= 5 ? Position{double(frame - 1), 0, 0} : Position{4, double(frame - 5), 0};
  };
  SetMatrix(host_.groupMatrix.data(), 1, 10, 20, 30);
  SetMatrix(host_.blurMatrix.data(), 2, 0, 0, 0);

  ASSERT_EQ(host_.Send(kSelectorSetup), 0);
  host_.ClearCalls();
  EXPECT_EQ(host_.Send(kSelectorGenerate), 0);

  EXPECT_EQ(
      Positions(host_),
      (std::vector<Point3>{{10, 20, 30}, {13, 20, 30}, {14, 20, 30}, {14, 21, 30}, {14, 24, 30}}));
  EXPECT_EQ(BlurPositions(host_),
            (std::vector<Point3>{{0, 0, 0}, {6, 0, 0}, {8, 0, 0}, {8, 2, 0}, {8, 8, 0}}));
  EXPECT_EQ(Us(host_), (std::vector<double>{1, 4, 5, 6, 9}));
  EXPECT_EQ(FacesSent(host_), (std::vector<Face>{{0, 1}, {1, 2}, {2, 3}, {3, 4}}));

  // Indices of its own this time: the line must name these, not the last ones.
  host_.Block()->reverseFlag = 1;
  host_.firstVertexIndex = 5;
  host_.ClearCalls();
  EXPECT_EQ(host_.Send(kSelectorGenerate), 0);

  EXPECT_EQ(
      Positions(host_),
      (std::vector<Point3>{{14, 24, 30}, {14, 21, 30}, {14, 20, 30}, {13, 20, 30}, {10, 20, 30}}));
  EXPECT_EQ(Us(host_), (std::vector<double>{0, 3, 4, 5, 8}));
  EXPECT_EQ(FacesSent(host_), (std::vector<Face>{{5, 6}, {6, 7}, {7, 8}, {8, 9}}));
  EXPECT_TRUE(host_.violations.empty());
  EXPECT_EQ(host_.outstandingMemory(), 0u);
}

}  // namespace
