// The data type codes are the block's (base/user_data.h); the receiving side
// keeps its own vocabulary on purpose, so that it checks the plug-in's frames
// independently. These tests hold every copy to the block's: the receiving
// library (which the receiver, the recipes and svhost's --type use) and the
// Wireshark dissector.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "base/text.h"
#include "base/user_data.h"
#include "receiving/frame_decode.h"
#include "receiving/recipes.h"

namespace {

struct Facts {
  std::string name;
  std::size_t width;
  bool operator==(const Facts&) const = default;
};

// code -> name and width, as the block has them.
std::map<int, Facts> block_types() {
  std::map<int, Facts> out;
  for (const sv::DataTypeInfo& t : sv::kDataTypes) out[t.code] = {sv::utf8(t.name), t.width};
  return out;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(DataTypes, ReceivingLibraryHasTheBlocksCodesNamesAndWidths) {
  std::map<int, Facts> seen;
  for (int code = -1; code <= sv::kDataTypeCount; ++code) {
    const auto type = sv::recv::value_type_from_code(code);
    if (!type) continue;
    EXPECT_EQ(static_cast<int>(*type), code) << "ValueType's value is not its code";
    const std::string name(sv::recv::value_type_name(*type));
    EXPECT_EQ(sv::recv::parse_value_type(name), type) << name;
    seen[code] = {name, sv::recv::value_width(*type)};
  }
  EXPECT_EQ(seen, block_types());
}

// The dissector's table of types and its data type preference.
TEST(DataTypes, DissectorHasTheBlocksCodesNamesAndWidths) {
  const std::string lua = read_file(SV_DISSECTOR_FILE);
  ASSERT_FALSE(lua.empty()) << SV_DISSECTOR_FILE;

  std::map<int, Facts> table;
  const std::regex entry(R"re(\[(\d+)\] = \{ name = "(\w+)", width = (\d+),)re");
  for (std::sregex_iterator m(lua.begin(), lua.end(), entry), end; m != end; ++m)
    table[std::stoi((*m)[1])] = {(*m)[2], std::stoul((*m)[3])};
  EXPECT_EQ(table, block_types()) << "TYPES in " << SV_DISSECTOR_FILE;

  std::map<int, Facts> preference;
  const std::regex choice(R"re(\{ \d+, "(\w+)", (\d+) \})re");
  for (std::sregex_iterator m(lua.begin(), lua.end(), choice), end; m != end; ++m)
    preference[std::stoi((*m)[2])] = {(*m)[1], block_types()[std::stoi((*m)[2])].width};
  EXPECT_EQ(preference, block_types()) << "the udpsv.type preference in " << SV_DISSECTOR_FILE;
}

// svhost new --type NAME writes the block's code for NAME into the section.
TEST(DataTypes, HostWritesTheBlocksCodeForEachName) {
  const std::string model = testing::TempDir() + "types-" + std::to_string(::getpid()) + ".model";
  for (const auto& [code, facts] : block_types()) {
    const std::string command = std::string(SV_SVHOST_BINARY) + " new " + model + " --type " +
                                facts.name + " --plugin " + SV_PLUGIN_FILE + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    const std::string text = read_file(model);
    // The section's last line is the data type code.
    const std::regex last_line(R"re((-?\d+)\r\nEND)re");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text, m, last_line)) << text;
    EXPECT_EQ(std::stoi(m[1]), code) << "--type " << facts.name;
  }
  std::remove(model.c_str());
}

}  // namespace
