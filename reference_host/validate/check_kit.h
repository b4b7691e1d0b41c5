// What the validator's check groups share: the standard scenes, blocks and
// sessions a check runs, and one entry point per group. Each group lives in a
// file of its own (fault_checks.cpp, block_checks.cpp, answer_checks.cpp,
// order_checks.cpp, saveload_checks.cpp) and adds its checks to the battery.
#ifndef VESTREL_REFERENCE_HOST_VALIDATE_CHECK_KIT_H
#define VESTREL_REFERENCE_HOST_VALIDATE_CHECK_KIT_H

#include <stdint.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "hostkit/block_codec.h"
#include "hostkit/scene.h"
#include "reference_host/validate/checks.h"
#include "reference_host/validate/harness.h"

namespace vhost {

// The five entry calls in the order a host makes them in a full session.
constexpr uint32_t kEntrySelectors[] = {kSelectorInfo, kSelectorInit, kSelectorInterface,
                                        kSelectorSetup, kSelectorGenerate};
extern const std::vector<uint32_t> kFullSession;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

SceneObject Object(const std::string& name, int32_t parent);

// Eight frames; the child at index 2 runs round three corners, so that the
// simplified path keeps a few points; a bystander before it and a second
// child after it, which must never be asked for. The matrices scale and move,
// so that a vertex placed by the wrong one shows.
Scene StandardScene();
// The standard scene whose user accepts the dialog as shown.
Scene AcceptAsShownScene();

// A block of n made-up points with these parameters.
std::vector<uint8_t> BlockWithPoints(int n, float angle, int32_t freeze, int32_t reverse,
                                     ByteOrder order);

// Ends the harness and adds what it found to the check's problems.
void Finish(Harness& harness, CheckContext& context);
// Runs selectors for one instance on scene and checks every call; faults, if
// given, are set on the harness first.
void RunSession(CheckContext& context, const Scene& scene, const std::vector<uint32_t>& selectors,
                const std::function<void(Harness&)>& faults = nullptr);

// A result code for a refused call: the usual ones, now and then any.
int32_t RefusalCode(Rng& rng);
// "INFO, INIT, SETM", for titles.
std::string SelectorList(const std::vector<uint32_t>& selectors);

// The groups.
void AddSetupChecks(Battery& battery);
void AddFaultChecks(Battery& battery, bool thorough);
void AddBlockChecks(Battery& battery);
void AddAnswerChecks(Battery& battery);
void AddOrderChecks(Battery& battery);
void AddSaveLoadChecks(Battery& battery);

}  // namespace vhost

#endif
