// docs/receiving.md's frame table and troubleshooting are what the receiving
// library generates: the text after each marker line
//   <!-- generated: frame table -->   <!-- generated: troubleshooting -->
// must equal it. The recipes' files are checked by generated_docs.py, their
// behaviour by running them (tests/tools/clients).

#include "receiving/recipes.h"

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

// The lines after `marker` up to the next blank line.
std::string after_marker(const std::string& text, const std::string& marker) {
  const auto at = text.find(marker);
  if (at == std::string::npos) return "(marker missing: " + marker + ")";
  const std::size_t start = text.find('\n', at) + 1;
  return text.substr(start, text.find("\n\n", start) - start + 1);
}

TEST(ReceivingNote, FrameTableAndTroubleshootingAreTheGeneratedOnes) {
  const std::string note = read_file(SV_RECEIVING_NOTE);
  EXPECT_EQ(after_marker(note, "<!-- generated: frame table -->"), sv::recv::frame_table());
  EXPECT_EQ(after_marker(note, "<!-- generated: troubleshooting -->"), sv::recv::troubleshooting());
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
