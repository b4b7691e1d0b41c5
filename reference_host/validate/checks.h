// The checks of `vestrel-host validate`, in five groups:
//   faults/    a full session with each host call refused in turn, every call
//              of each selector refused, each host function hidden or
//              refusing service
//   blocks/    stored parameter blocks of every small size, crafted magic and
//              counts, NaN and infinite fields, random and large blocks
//   answers/   host answers at the edges: frame ranges, object counts, null
//              references, parent cycles, NaN positions and matrices, short
//              'ALOC', 'MMAL' without memory, vertex indices that wrap
//   orders/    entry calls out of order, unknown selectors, instances
//              interleaved
//   saveload/  blocks saved, loaded into a new instance and saved again
// Each check is named by an id ("faults/accept/call-7") that, with the run's
// seed, replays it exactly.
#ifndef VESTREL_REFERENCE_HOST_VALIDATE_CHECKS_H
#define VESTREL_REFERENCE_HOST_VALIDATE_CHECKS_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "reference_host/validate/harness.h"

namespace vhost {

// A small, fast, seedable generator (SplitMix64): the same seed gives the
// same checks on every machine.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // An integer from low to high, both included.
  int64_t Range(int64_t low, int64_t high);
  bool Chance(double probability);
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[static_cast<size_t>(Range(0, int64_t(items.size()) - 1))];
  }

 private:
  uint64_t state_;
};

// The seed of one check: the run's seed mixed with the check's id.
uint64_t CheckSeed(uint64_t runSeed, const std::string& id);

struct CheckContext {
  CheckEnvironment environment;
  uint64_t seed = 0;
  std::vector<std::string> problems;
  nlohmann::json data = nlohmann::json::object();
};

struct Check {
  std::string id;
  std::string title;
  std::function<void(CheckContext&)> run;
  // Checks made from what this one found (the fault sweep numbers the host
  // calls of the session its baseline made).
  std::function<std::vector<Check>(const nlohmann::json& data)> followUps;
};

// Rounds of random checks: round r of prefix p has the id "p/r".
struct CheckGenerator {
  std::string prefix;
  std::function<Check(uint64_t round)> make;
  uint64_t minimumRounds = 0;  // run whatever the time
};

struct Battery {
  std::vector<Check> fixed;
  std::vector<CheckGenerator> random;
};

// How hard the battery tries. quick: the default, for CI and every change.
// thorough: every host call of a longer, two-pass session refused in turn, at
// least 10,000 stored blocks and 1,000 sets of hostile host answers.
enum class ValidationLevel { kQuick, kThorough };

Battery MakeBattery(ValidationLevel level = ValidationLevel::kQuick);

// The group a check id belongs to, for the counts ("faults", "blocks", ...).
std::string CheckGroup(const std::string& id);

}  // namespace vhost

#endif
