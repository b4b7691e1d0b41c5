// The validator's checks of group faults/
//   faults/    a full session with each host call refused in turn, each call of a
//            host function refused alone in turn, each lookup of one hidden
//            alone, every call of each selector refused, each host function
//            hidden or refusing service
#include <math.h>
#include <string.h>

#include <limits>

#include "hostkit/block_codec.h"
#include "hostkit/faults.h"
#include "hostkit/resource_file.h"
#include "reference_host/validate/check_kit.h"

namespace vhost {

namespace {

using nlohmann::json;

// ---------------------------------------------------------------------------
// faults/

struct FaultSession {
  std::string name;
  std::string what;
  Scene scene;
  std::vector<uint32_t> selectors;
};

std::vector<FaultSession> FaultSessions(bool thorough) {
  std::vector<FaultSession> sessions;
  sessions.push_back({"accept", "the dialog accepted", StandardScene(), kFullSession});
  Scene cancel = StandardScene();
  cancel.dialog->accept = false;
  sessions.push_back({"cancel", "the dialog cancelled", cancel, kFullSession});
  Scene xolr = StandardScene();
  xolr.creator = kCreatorXolr;
  xolr.block = BlockWithPoints(4, 5.0f, 0, 1, ByteOrder::kSwapped);
  sessions.push_back(
      {"xolr", "the 'XOLR' host, a stored block in the other byte order", xolr, kFullSession});
  Scene stored = StandardScene();
  stored.block = BlockWithPoints(3, 7.5f, 0, 0, ByteOrder::kNative);
  sessions.push_back({"stored",
                      "a stored block, 'GENM' before and after 'SETM'",
                      stored,
                      {kSelectorInit, kSelectorGenerate, kSelectorSetup, kSelectorGenerate}});
  if (thorough) {
    // Sixty frames through two set-ups and generations: every call of a
    // longer capture, of a second pass and of the dialog refused in turn.
    Scene long_ = StandardScene();
    long_.lastFrame = 59;
    long_.objects[2].motion.framesPerSegment = 15;
    sessions.push_back({"long",
                        "sixty frames, two passes",
                        long_,
                        {kSelectorInfo, kSelectorInit, kSelectorInterface, kSelectorSetup,
                         kSelectorGenerate, kSelectorSetup, kSelectorGenerate}});
  }
  return sessions;
}

std::vector<Check> FaultFollowUps(const FaultSession& session, const json& data) {
  std::vector<Check> checks;
  const uint64_t calls = data.value("calls", uint64_t(0));
  const std::string base = "faults/" + session.name + "/";
  for (uint64_t n = 1; n <= calls; ++n) {
    Check check;
    check.id = base + "call-" + std::to_string(n);
    check.title =
        "host call #" + std::to_string(n) + " of the session refused (" + session.what + ")";
    check.run = [session, n](CheckContext& context) {
      Rng rng(context.seed);
      int32_t code = RefusalCode(rng);
      context.data["code"] = code;
      RunSession(context, session.scene, session.selectors,
                 [&](Harness& harness) { harness.RefuseCall(n, code); });
    };
    checks.push_back(check);
  }
  const uint64_t functionCalls = data.value("function_calls", uint64_t(0));
  for (uint64_t n = 1; n <= functionCalls; ++n) {
    Check check;
    check.id = base + "function-call-" + std::to_string(n);
    check.title = "host-function call #" + std::to_string(n) + " of the session refused alone (" +
                  session.what + ")";
    check.run = [session, n](CheckContext& context) {
      RunSession(context, session.scene, session.selectors,
                 [&](Harness& harness) { harness.RefuseFunctionCall(n); });
    };
    checks.push_back(check);
  }
  const uint64_t lookups = data.value("lookups", uint64_t(0));
  for (uint64_t n = 1; n <= lookups; ++n) {
    Check check;
    check.id = base + "lookup-" + std::to_string(n);
    check.title = "host-function lookup #" + std::to_string(n) +
                  " of the session finds nothing, a later one finds it (" + session.what + ")";
    check.run = [session, n](CheckContext& context) {
      RunSession(context, session.scene, session.selectors,
                 [&](Harness& harness) { harness.HideLookup(n); });
    };
    checks.push_back(check);
  }
  for (const json& name : data.value("selectors", json::array())) {
    uint32_t selector = 0;
    ParseCode(name.get<std::string>(), &selector);
    Check check;
    check.id = base + "every-" + name.get<std::string>();
    check.title = "every '" + name.get<std::string>() + "' refused (" + session.what + ")";
    check.run = [session, selector](CheckContext& context) {
      Rng rng(context.seed);
      int32_t code = RefusalCode(rng);
      RunSession(context, session.scene, session.selectors,
                 [&](Harness& harness) { harness.RefuseSelector(selector, code); });
    };
    checks.push_back(check);
  }
  return checks;
}

}  // namespace

void AddFaultChecks(Battery& battery, bool thorough) {
  for (const FaultSession& session : FaultSessions(thorough)) {
    Check baseline;
    baseline.id = "faults/" + session.name + "/baseline";
    baseline.title =
        "the session " + SelectorList(session.selectors) + " without faults (" + session.what + ")";
    baseline.run = [session](CheckContext& context) {
      Harness harness(context.environment);
      Instance& instance = harness.AddInstance(session.scene);
      if (session.scene.block) instance.session->SetBlock(*session.scene.block);
      harness.CallAll(instance, session.selectors);
      context.data["calls"] = harness.callbackCalls();
      uint64_t functionCalls = 0;
      for (const auto& entry : harness.services().calls()) functionCalls += entry.second;
      context.data["function_calls"] = functionCalls;
      uint64_t lookups = 0;
      for (const auto& entry : harness.services().lookups()) lookups += entry.second;
      if (context.environment.canHide) context.data["lookups"] = lookups;
      json selectors = json::array();
      for (const CallbackSelector& row : kCallbackSelectors) {
        if (instance.session->totals().count(row.selector))
          selectors.push_back(CodeName(row.selector));
      }
      context.data["selectors"] = selectors;
      Finish(harness, context);
    };
    baseline.followUps = [session](const json& data) { return FaultFollowUps(session, data); };
    battery.fixed.push_back(baseline);
  }
  // The sixteen host functions, each hidden and each refusing service, for
  // the session whose dialog the user accepts.
  FaultSession accept = FaultSessions(false)[0];
  for (const char* name : kHostFunctionNames) {
    for (bool hide : {true, false}) {
      Check check;
      check.id = std::string("faults/accept/") + (hide ? "hide-" : "refuse-") + name;
      check.title = std::string(name) + (hide ? " missing from the host" : " refusing service");
      std::string function = name;
      check.run = [accept, function, hide](CheckContext& context) {
        RunSession(context, accept.scene, accept.selectors,
                   [&](Harness& harness) { harness.DisableFunction(function, hide); });
      };
      battery.fixed.push_back(check);
    }
  }
}

}  // namespace vhost
