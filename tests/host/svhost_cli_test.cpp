// svhost as a user meets it: where it finds a plug-in nobody named, the
// warning for blocks of one model that share a port, a failure's text, and
// the dialog of the native build.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/cli.h"
#include "host/plugin.h"
#include "system/dynlib.h"
#include "system/host_error.h"
#include "tests/common/plugin.h"

namespace svhost {
namespace {

namespace fs = std::filesystem;

fs::path scratch(const std::string& name) {
  fs::path dir = fs::path(testing::TempDir()) / ("svhost-cli-" + name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

void touch(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "";
}

using svtest::Outcome;
using svtest::svhost;

// The search order: the program's own folder, the build tree, then the
// installation's folders; $SVHOST_PLUGIN before all of them, found or not.
TEST(PluginSearch, TakesTheFirstOfItsPlacesThatHoldsThePlugin) {
  const fs::path root = scratch("search");
  const fs::path program = root / "bin" / "svhost";
  touch(program);
  const std::string file = dynlib::plugin_file_name();

  // A plug-in installed system-wide on this machine answers when the
  // scratch tree holds none; otherwise the search must fail and say where.
  std::string system_wide;
  for (const std::string& folder : dynlib::installed_plugin_folders())
    if (fs::path(folder).is_absolute() && fs::exists(fs::path(folder) / file) &&
        system_wide.empty())
      system_wide = (fs::path(folder) / file).string();
  if (system_wide.empty()) {
    try {
      find_plugin(program.string(), nullptr);
      ADD_FAILURE() << "found a plug-in in an empty tree";
    } catch (const HostError& e) {
      const std::string text = e.what();
      EXPECT_NE(text.find((root / "bin" / file).string()), std::string::npos) << text;
      EXPECT_NE(text.find("--plugin"), std::string::npos) << text;
      for (const std::string& folder : dynlib::installed_plugin_folders())
        EXPECT_NE(text.find(folder), std::string::npos)
            << "does not name " << folder << ": " << text;
    }
  } else {
    EXPECT_EQ(find_plugin(program.string(), nullptr), system_wide);
  }

  // Each place, from the last to the first, takes over from those after it.
  std::vector<fs::path> places;
  for (const std::string& folder : dynlib::installed_plugin_folders())
    if (!fs::path(folder).is_absolute())
      places.insert(places.begin(), root / "bin" / folder / file);
  places.push_back(root / "bin" / ".." / "plugin" / file);
  places.push_back(root / "bin" / file);
  for (const fs::path& place : places) {
    touch(place);
    EXPECT_TRUE(fs::equivalent(find_plugin(program.string(), nullptr), place)) << place;
  }

  EXPECT_EQ(find_plugin(program.string(), "/nowhere/named.so"), "/nowhere/named.so");
  EXPECT_TRUE(fs::equivalent(find_plugin(program.string(), ""), root / "bin" / file))
      << "an empty SVHOST_PLUGIN counts as unset";
  fs::remove_all(root);
}

class Models : public testing::Test {
 protected:
  // A model of one block per port given, written by svhost new and joined.
  std::string model_with_ports(const std::string& name, const std::vector<int>& ports) {
    const fs::path dir = scratch(name);
    std::string joined;
    for (std::size_t i = 0; i < ports.size(); ++i) {
      const std::string one = (dir / ("block" + std::to_string(i) + ".model")).string();
      EXPECT_EQ(svhost({"new", one, "--port", std::to_string(ports[i]), "--inputs", "2", "--plugin",
                        SV_TEST_PLUGIN_PATH})
                    .code,
                cli::kExitOk);
      std::ifstream in(one, std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      std::string body = text.str();
      // SVHOST-MODEL 1 \r\n BLOCK 1 <name> \r\n section END \r\n
      const std::size_t block = body.find("BLOCK 1 ");
      const std::size_t end = body.rfind("END\r\n");
      std::string part = body.substr(block, end - block);
      part.replace(6, 1, std::to_string(i + 1));
      if (i == 0) joined = body.substr(0, block);
      joined += part;
    }
    joined += "END\r\n";
    const std::string path = (dir / "joined.model").string();
    std::ofstream(path, std::ios::binary) << joined;
    return path;
  }
};

TEST_F(Models, ShowWarnsOncePerSharedPortAndKeepsStdoutClean) {
  const std::string model = model_with_ports("shared", {1600, 5005, 1600, 5005, 1600, 7007});
  const Outcome shown = svhost({"show", model, "--plugin", SV_TEST_PLUGIN_PATH});
  EXPECT_EQ(shown.code, cli::kExitOk) << shown.err;
  EXPECT_NE(shown.out.find("6 blocks"), std::string::npos) << shown.out;
  EXPECT_NE(shown.err.find("blocks 1, 3 and 5 send to the same port, 1600"), std::string::npos)
      << shown.err;
  EXPECT_NE(shown.err.find("blocks 2 and 4 send to the same port, 5005"), std::string::npos)
      << shown.err;
  EXPECT_EQ(shown.err.find("7007"), std::string::npos) << shown.err;

  const Outcome script =
      svhost({"show", model, "--plugin", SV_TEST_PLUGIN_PATH, "--receiver", "python"});
  EXPECT_EQ(script.code, cli::kExitOk) << script.err;
  EXPECT_NE(script.err.find("port of its own"), std::string::npos) << script.err;
  EXPECT_EQ(script.out.find("warning"), std::string::npos) << "stdout is the script only";
}

TEST_F(Models, NoWarningForPortsOfTheirOwn) {
  const std::string model = model_with_ports("own", {1600, 1601, 65535});
  const Outcome shown = svhost({"show", model, "--plugin", SV_TEST_PLUGIN_PATH});
  EXPECT_EQ(shown.code, cli::kExitOk) << shown.err;
  EXPECT_EQ(shown.err, "");
}

// The port is taken modulo 65536 by the block, so 67136 is 1600 on the wire.
TEST_F(Models, PortsThatMeetOnTheWireCount) {
  const std::string model = model_with_ports("wrapped", {1600, 67136});
  const Outcome shown = svhost({"show", model, "--plugin", SV_TEST_PLUGIN_PATH});
  EXPECT_NE(shown.err.find("blocks 1 and 2 send to the same port, 1600"), std::string::npos)
      << shown.err;
}

// A text of several lines reaches the user as lines below each other, not
// with its line breaks spelt out.
TEST(Run, ShowsAFailureOfSeveralLinesAsText) {
  const std::string model = (scratch("run") / "nowhere.model").string();
  ASSERT_EQ(
      svhost({"new", model, "--host", "svhost-test..invalid", "--plugin", SV_TEST_PLUGIN_PATH})
          .code,
      cli::kExitOk);
  const Outcome run = svhost({"run", SV_TEST_PLUGIN_PATH, model, "--steps", "0", "--quiet"});
  EXPECT_EQ(run.code, cli::kExitFailure);
  EXPECT_NE(run.err.find("run start failed: Socket Error # 11001\n" + std::string(18, ' ') +
                         "Host not found.\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.out.find("  1 x Socket Error # 11001\n      Host not found.\n"), std::string::npos)
      << run.out;
  EXPECT_EQ((run.out + run.err).find("\\r"), std::string::npos);
}

#ifndef _WIN32
// The native build has no parameter dialog: svhost dialog fails with the
// plug-in's words for it and leaves the model as it was.
TEST_F(Models, DialogOfTheNativeBuildFailsAndSaysWhereTheDialogIs) {
  const std::string model = model_with_ports("dialog", {1600});
  std::ifstream before_file(model, std::ios::binary);
  const std::string before{std::istreambuf_iterator<char>(before_file), {}};
  const Outcome opened = svhost({"dialog", SV_TEST_PLUGIN_PATH, model});
  EXPECT_NE(opened.code, cli::kExitOk);
  EXPECT_NE(opened.err.find("CallParameterDialogDLL failed: The parameter dialog needs the "
                            "Windows build of the block (UDPSV2Simulink.dll)"),
            std::string::npos)
      << opened.err;
  EXPECT_EQ(opened.out.find("unchanged"), std::string::npos) << opened.out;
  std::ifstream after_file(model, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(after_file), {}), before);
}
#endif

}  // namespace
}  // namespace svhost
