// The README's receiving side is what svhost generates: each block of the
// README that follows a marker line
//   <!-- generated: svhost show demo.model --receiver KIND -->
//   <!-- generated: frame table -->   <!-- generated: troubleshooting -->
// must equal the output, for the README's example model (4 x double, port
// 1600). The recipes' behaviour is checked by running them (tests/tools/clients).

#include "receiving/recipes.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string run(const std::string& command) {
  std::string out;
  if (std::FILE* p = ::popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    EXPECT_EQ(::pclose(p), 0) << command;
  }
  return out;
}

// The text after `marker`: a fenced block's content, or the lines up to the
// next blank line.
std::string after_marker(const std::string& readme, const std::string& marker) {
  const auto at = readme.find(marker);
  if (at == std::string::npos) return "(marker missing: " + marker + ")";
  std::size_t start = readme.find('\n', at) + 1;
  if (readme.compare(start, 3, "```") == 0) {
    start = readme.find('\n', start) + 1;
    return readme.substr(start, readme.find("```", start) - start);
  }
  const auto end = readme.find("\n\n", start);
  return readme.substr(start, end - start + 1);
}

class Readme : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Each test runs in a process of its own under CTest, some at once.
    model_ = testing::TempDir() + "demo-" + std::to_string(::getpid()) + ".model";
    run(std::string(SV_SVHOST_BINARY) + " new " + model_ + " --inputs 4 --plugin " +
        SV_PLUGIN_FILE + " >/dev/null");
  }
  static std::string show(const std::string& kind) {
    return run(std::string(SV_SVHOST_BINARY) + " show " + model_ + " --receiver " + kind +
               " --plugin " + SV_PLUGIN_FILE);
  }
  static void TearDownTestSuite() { std::remove(model_.c_str()); }
  static inline std::string model_;
  std::string readme_ = read_file(SV_README_FILE);
};

TEST_F(Readme, RecipesAreTheGeneratedOnes) {
  for (const char* kind : {"simulink", "python", "octave", "matlab"}) {
    const std::string want = show(kind);
    ASSERT_NE(want.find("4 x double = 32 bytes"), std::string::npos) << want;
    EXPECT_EQ(after_marker(readme_, std::string("<!-- generated: svhost show demo.model "
                                                "--receiver ") +
                                        kind + " -->"),
              want)
        << "README's " << kind << " recipe differs from svhost's; paste the output of\n"
        << "  svhost new demo.model --inputs 4 && svhost show demo.model --receiver " << kind;
  }
}

TEST_F(Readme, FrameTableAndTroubleshootingAreTheGeneratedOnes) {
  EXPECT_EQ(after_marker(readme_, "<!-- generated: frame table -->"), sv::recv::frame_table());
  EXPECT_EQ(after_marker(readme_, "<!-- generated: troubleshooting -->"),
            sv::recv::troubleshooting());
}

// Each recipe takes the block's own settings; a block that sends nothing
// gets no settings that could never match.
TEST(Recipes, FilledInFromTheBlock) {
  sv::recv::ReceiverSpec spec;
  spec.label = "block 2";
  spec.address = "10.0.0.7";
  spec.port = 5005;
  spec.type = sv::recv::ValueType::Boolean;
  spec.type_code = 3;
  spec.inputs = 7;
  const std::string simulink = sv::recv::recipe(sv::recv::Recipe::Simulink, spec);
  EXPECT_NE(simulink.find("Local IP port                                 5005"), std::string::npos)
      << simulink;
  EXPECT_NE(simulink.find("Maximum length for Message                    7\n"), std::string::npos);
  EXPECT_NE(simulink.find("Data size                 [7 1]"), std::string::npos);
  EXPECT_NE(simulink.find("Data type                 uint8"), std::string::npos);
  EXPECT_NE(sv::recv::recipe(sv::recv::Recipe::Python, spec).find("TYPE = \"boolean\""),
            std::string::npos);
  EXPECT_EQ(sv::recv::frame_bytes(spec), 7u);

  spec.type = sv::recv::value_type_from_code(4);
  spec.type_code = 4;
  EXPECT_EQ(sv::recv::frame_bytes(spec), 0u);
  EXPECT_EQ(sv::recv::recipe(sv::recv::Recipe::Python, spec),
            "block 2: data type code 4 is none of 0..3 (double, single, int32, boolean): the "
            "block sends no frames.\n");
  EXPECT_FALSE(sv::recv::parse_recipes("labview"));
  EXPECT_EQ(sv::recv::parse_recipes("all")->size(), 4u);
}

}  // namespace
