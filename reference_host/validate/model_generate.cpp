// The design's 'GENM': one vertex per stored point placed by both matrices, a
// polygon between consecutive points ('XOLR' hosts: their group first).
#include "reference_host/validate/design_check.h"

namespace vhost {
namespace design {

void DesignCheck::Generate() {
  if (model_.creator == kCreatorXolr) {
    const ServedCall* group = Expect(kSelectorGetGroup, "for the host's group ('XOLR' host)");
    if (group == nullptr) return;
    if (group->result == 0) {
      const ServedCall* deletion = Expect(kSelectorDeleteGroup, "for the group 'GETG' gave");
      if (deletion == nullptr) return;
      Argument(Address(Args<DeleteGroupCall>(deletion).group) ==
                   Address(Args<GetGroupCall>(group).group),
               "'DELG' named another group than 'GETG' gave");
    }
    SetResult(0, "the results of 'GETG' and 'DELG' do not count");
  }
  BlockState block = call_.before;
  bool fetched = Fetch(&block);
  expectedAfter_ = block;
  if (!fetched) return;
  const int32_t n = Read<int32_t>(block.bytes, kBlockCountAt);
  if (n < 2) return;
  const bool reverse = Read<int32_t>(block.bytes, kBlockReverseAt) != 0;
  auto point = [&](int32_t i) {
    const size_t at = PointAt(i);
    return std::array<float, 4>{Read<float>(block.bytes, at), Read<float>(block.bytes, at + 4),
                                Read<float>(block.bytes, at + 8),
                                Read<float>(block.bytes, at + 12)};
  };
  int64_t previous = 0;
  for (int32_t j = 0; j < n; ++j) {
    std::array<float, 4> p = point(reverse ? n - 1 - j : j);
    if (reverse) p[3] = point(n - 1)[3] - p[3];
    const ServedCall* vertex =
        Expect(kSelectorAddVertex,
               "for the point at position " + std::to_string(j) + " of " + std::to_string(n));
    if (vertex == nullptr) return;
    CheckVertex(*vertex, p, j);
    if (vertex->result != 0 || stopped_) return;
    if (j > 0) {
      const ServedCall* face =
          Expect(kSelectorAddFace,
                 "joining vertices " + std::to_string(j - 1) + " and " + std::to_string(j));
      if (face == nullptr) return;
      Argument(Args<AddFaceCall>(face).firstVertex == previous &&
                   Args<AddFaceCall>(face).secondVertex == Args<AddVertexCall>(vertex).index,
               "'ADDF' joined the indices " + std::to_string(Args<AddFaceCall>(face).firstVertex) +
                   " and " + std::to_string(Args<AddFaceCall>(face).secondVertex) +
                   ", the host had handed out " + std::to_string(previous) + " and " +
                   std::to_string(Args<AddVertexCall>(vertex).index));
      if (face->result != 0) return;
    }
    previous = Args<AddVertexCall>(vertex).index;
  }
}

void DesignCheck::CheckVertex(const ServedCall& call, const std::array<float, 4>& p, int32_t j) {
  const AddVertexCall vertex = Args<AddVertexCall>(&call);
  if (call.refused) {
    Argument(SameDouble(vertex.u, p[3]), "vertex " + std::to_string(j) + " has u " +
                                             Number(vertex.u) + ", not " + Number(p[3]));
    return;
  }
  double position[3] = {p[0], p[1], p[2]};
  double blur[3] = {p[0], p[1], p[2]};
  TransformPoint(position, model_.groupMatrix);
  TransformPoint(blur, model_.blurMatrix);
  bool ok = SameDouble(vertex.u, p[3]);
  for (int k = 0; k < 3; ++k)
    ok = ok && SameDouble(vertex.position[k], position[k]) && SameDouble(vertex.blur[k], blur[k]);
  Argument(ok, "vertex " + std::to_string(j) + " went out as (" + Number(vertex.position[0]) +
                   ", " + Number(vertex.position[1]) + ", " + Number(vertex.position[2]) + ") u " +
                   Number(vertex.u) + "; the stored point placed by the group matrix is (" +
                   Number(position[0]) + ", " + Number(position[1]) + ", " + Number(position[2]) +
                   ") u " + Number(p[3]));
}

}  // namespace design
}  // namespace vhost
