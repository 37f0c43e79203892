// qm7410-sim's command line: what it accepts, and how it names what it refuses.
#include <gtest/gtest.h>

#include "sim/options.h"

namespace {

using qm::sim::Options;

// The error for `args`, or "" when they are accepted.
std::string ErrorOf(const std::vector<std::string>& args) {
  Options o;
  bool help = false;
  std::string error;
  return qm::sim::ParseOptions(args, o, help, error) ? std::string() : error;
}

TEST(SimOptions, UnknownOptionsAndMissingValuesAreToldApart) {
  EXPECT_EQ(ErrorOf({"--link", "/tmp/x", "--bogus"}), "unknown option --bogus");
  EXPECT_EQ(ErrorOf({"--bogus"}), "unknown option --bogus");
  EXPECT_EQ(ErrorOf({"--link", "/tmp/x", "extra"}), "unknown option extra");
  EXPECT_EQ(ErrorOf({"--link"}), "missing value after --link");
  EXPECT_EQ(ErrorOf({"--link", "/tmp/x", "--listen-tcp"}), "missing value after --listen-tcp");
  EXPECT_EQ(ErrorOf({"--link", "/tmp/x", "--fault", "meltdown"}), "unknown fault: meltdown");
}

}  // namespace
