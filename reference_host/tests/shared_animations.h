// The real animation files made by others, read from the folder beside the
// checkout (never copied into it); the tests that need them skip, saying
// where they looked, when that folder is absent.
#pragma once

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace vhost_e2e {

inline std::string Animation(const std::string& name) {
  return (std::filesystem::path(VHOST_ANIMATIONS) / name).string();
}

}  // namespace vhost_e2e

#define SKIP_WITHOUT_ANIMATIONS()                                           \
  if (!std::filesystem::exists(VHOST_ANIMATIONS))                           \
  GTEST_SKIP() << "the shared animation files are not at " VHOST_ANIMATIONS \
                  " (a checkout with ../shared beside it has them)"
