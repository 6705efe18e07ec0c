// The plug-in as the host emulator has it, for the tests that drive it as a
// host does: loaded once for a suite of tests, and its blocks (the inputs
// they take are in ext80.h); and the emulator's command line.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/block.h"
#include "host/cli.h"
#include "host/plugin.h"

namespace svtest {

// A suite of tests that share one load of the plug-in of the build tree, as
// a host loads it once.
class LoadedPlugin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { plugin_ = svhost::Plugin::load(SV_TEST_PLUGIN_PATH); }
  static void TearDownTestSuite() { plugin_.reset(); }
  static const svhost::Plugin& plugin() { return *plugin_; }

 private:
  static inline std::unique_ptr<svhost::Plugin> plugin_;
};

// A block that has been through InitUserDLL only.
inline std::unique_ptr<svhost::Block> new_block(const svhost::Plugin& plugin) {
  auto block = std::make_unique<svhost::Block>(plugin);
  const svhost::CallResult r = block->init();
  EXPECT_TRUE(r.ok) << r.failure;
  return block;
}

// A block that has read a section of these values.
inline std::unique_ptr<svhost::Block> block_for(const svhost::Plugin& plugin,
                                                const svhost::SectionValues& values) {
  auto block = new_block(plugin);
  const svhost::CallResult r = configure(*block, values);
  EXPECT_TRUE(r.ok) << r.failure;
  return block;
}

// svhost's main with the given arguments; its stdout and stderr.
struct Outcome {
  int code;
  std::string out, err;
};

inline Outcome svhost(std::vector<std::string> args) {
  args.insert(args.begin(), "svhost");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int code = svhost::cli::main(static_cast<int>(argv.size()), argv.data());
  std::fflush(nullptr);
  return {code, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
}

}  // namespace svtest
