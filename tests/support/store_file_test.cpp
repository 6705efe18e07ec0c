// The native settings store: its file format and how the product key is
// added to it.
#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "base/text.h"
#include "platform/posix/settings_store_file.h"
#include "platform/settings_store.h"
#include "support/SVConfig.h"

namespace sv::platform {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> utf16z(std::u16string_view s) {
  std::vector<std::uint8_t> out;
  for (char16_t c : s) {
    out.push_back(static_cast<std::uint8_t>(c));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.push_back(0);
  out.push_back(0);
  return out;
}

const char kSample[] =
    "Windows Registry Editor Version 5.00 \t\r\n"
    "\r\n"
    "; a comment\r\n"
    "[HKEY_CURRENT_USER\\Software\\Haldeck\\Sorvane 7\\General Settings]\r\n"
    "\"Default User\"=\"Anna \\\"A\\\" C:\\\\x \u20AC\"\r\n"
    "@=\"default\"\r\n"
    "\"Default Color 1\"=dword:12FF0034\r\n"
    "\"Temp Path\"=hex(2):2f,00,74,00,\\\r\n"
    "  6d,00,70,00,00,00\r\n"
    "\"Blob\"=hex:\r\n"
    "\"tooltip help\"=\"1\"\n"
    "\"Tooltip Help\"=\"0\"\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
    "[hkey_current_user\\software\\haldeck\\sorvane 7\\general settings]\r\n"
    "\"Default Grid Mode\"=hex(7):00,00\r\n";

TEST(StoreFile, ParsesEveryValueForm) {
  regfile::ParseResult r = regfile::parse(kSample);
  ASSERT_TRUE(r.store) << r.error << " in line " << r.error_line;
  const regfile::Store& s = *r.store;
  ASSERT_EQ(s.keys.size(), 2u);  // sections of the same key merge, whatever the case
  const regfile::Key* k =
      s.find(u"HKEY_CURRENT_USER\\SOFTWARE\\Haldeck\\Sorvane 7\\General Settings");
  ASSERT_NE(k, nullptr);
  ASSERT_EQ(k->values.size(), 7u);

  auto value = [&](std::u16string_view name) { return regfile::find_value(*k, name); };
  EXPECT_EQ(value(u"Default User")->type, regfile::kString);
  EXPECT_EQ(value(u"Default User")->data, utf16z(u"Anna \"A\" C:\\x \u20AC"));
  EXPECT_EQ(value(u"")->data, utf16z(u"default"));
  EXPECT_EQ(value(u"Default Color 1")->type, regfile::kDword);
  EXPECT_EQ(value(u"Default Color 1")->data, (std::vector<std::uint8_t>{0x34, 0, 0xFF, 0x12}));
  EXPECT_EQ(value(u"Temp Path")->type, regfile::kExpandString);
  EXPECT_EQ(value(u"Temp Path")->data, utf16z(u"/tmp"));
  EXPECT_EQ(value(u"Blob")->type, regfile::kBinary);
  EXPECT_TRUE(value(u"Blob")->data.empty());
  EXPECT_EQ(value(u"TOOLTIP HELP")->data, utf16z(u"0"));  // the later line wins
  EXPECT_EQ(value(u"Default Grid Mode")->type, 7u);

  EXPECT_TRUE(s.exists(u"HKEY_CURRENT_USER\\Software"));
  EXPECT_TRUE(s.exists(u"HKEY_CURRENT_USER\\Software\\Haldeck\\Sorvane 7"));
  EXPECT_FALSE(s.exists(u"HKEY_CURRENT_USER\\Software\\Haldeck\\Sorvane"));
  EXPECT_FALSE(s.exists(u"HKEY_CURRENT_USER\\Software\\Haldeck\\Sorvane 7\\General"));
}

TEST(StoreFile, ReadsUtf16WithByteOrderMark) {
  std::u16string text = u16(kSample);
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  regfile::ParseResult r = regfile::parse(bytes);
  ASSERT_TRUE(r.store) << r.error;
  EXPECT_EQ(r.store->keys.size(), 2u);
  bytes.pop_back();
  EXPECT_FALSE(regfile::parse(bytes).store);
}

TEST(StoreFile, DamagedTextIsRefusedWithItsLine) {
  const std::string head = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n";
  const std::pair<std::string, std::size_t> bad[] = {
      {"", 1},
      {"REGEDIT4\n", 1},
      {"Windows Registry Editor Version 5.00\n\"A\"=\"outside a key\"\n", 2},
      {head + "\"A\"=\"unterminated\n", 3},
      {head + "\"A\"=\"bad \\n escape\"\n", 3},
      {head + "\"A\"=dword:123456789\n", 3},
      {head + "\"A\"=dword:\n", 3},
      {head + "\"A\"=dword:1 x\n", 3},
      {head + "\"A\"=hex:0\n", 3},
      {head + "\"A\"=hex:00,\n", 3},
      {head + "\"A\"=hex:00,\\\n", 4},
      {head + "\"A\"=hex(2:00\n", 3},
      {head + "\"A\"=hex(123456789):00\n", 3},
      {head + "\"A\"=-\n", 3},
      {head + "\"A\" \"B\"\n", 3},
      {head + "\"A\"=wrong\n", 3},
      {head + "[-HKEY_CURRENT_USER\\K]\n", 3},
      {head + "[HKEY_CURRENT_USER\\K\n", 3},
      {head + "[]\n", 3},
      {head + "[K] x\n", 3},
      {head + "garbage\n", 3},
  };
  for (const auto& [text, line] : bad) {
    regfile::ParseResult r = regfile::parse(text);
    EXPECT_FALSE(r.store) << text;
    EXPECT_FALSE(r.error.empty()) << text;
    EXPECT_EQ(r.error_line, line) << text;
  }
}

TEST(StoreFile, AFileOfTheLimitsSizeIsReadAndOneByteMoreIsRefused) {
  std::string text = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n;";
  text.resize(regfile::kMaxFileSize, 'x');  // a long comment fills it up
  EXPECT_TRUE(regfile::parse(text).store);
  text.push_back('x');
  regfile::ParseResult r = regfile::parse(text);
  EXPECT_FALSE(r.store);
  EXPECT_EQ(r.error, "file too large");
}

TEST(StoreFile, EveryTruncationParsesOrFailsCleanly) {
  // Run under the sanitizers, this catches reads past the end.
  const std::string sample = kSample;
  for (std::size_t n = 0; n <= sample.size(); ++n) {
    std::string cut(sample.data(), n);  // its own allocation, so an over-read is detected
    regfile::ParseResult r = regfile::parse(cut);
    EXPECT_EQ(r.store.has_value(), r.error.empty());
  }
}

// A store file of its own in a temporary folder.
class StoreFileOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "svstore-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    file_ = dir_ / "nested" / "registry.reg";
    ::setenv("UDPSV_REGISTRY_FILE", file_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("UDPSV_REGISTRY_FILE");
    fs::remove_all(dir_);
  }
  std::string contents() const {
    std::ifstream f(file_, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }
  void write(const std::string& bytes) {
    fs::create_directories(file_.parent_path());
    std::ofstream(file_, std::ios::binary) << bytes;
  }

  fs::path dir_;
  fs::path file_;
};

TEST_F(StoreFileOnDisk, MissingStoreIsCreatedWithTheKey) {
  SettingsKey key = settings_create_user_key(u"Software\\Haldeck\\Sorvane 7");
  ASSERT_NE(key, 0u);
  EXPECT_EQ(settings_open_key(key, u"General Settings"), 0u);
  settings_close_key(key);
  const std::string created = contents();
  EXPECT_EQ(created,
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Haldeck\\Sorvane 7]\r\n");
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  // A second opening finds the key and leaves the file alone.
  key = settings_create_user_key(u"software\\haldeck\\sorvane 7");
  EXPECT_NE(key, 0u);
  settings_close_key(key);
  EXPECT_EQ(contents(), created);
}

TEST_F(StoreFileOnDisk, KeyIsAppendedToAnExistingStore) {
  const std::string before =
      "Windows Registry Editor Version 5.00\n; keep me\n[HKEY_CURRENT_USER\\Other]\n\"A\"=\"1\"";
  write(before);
  SettingsKey key = settings_create_user_key(u"Software\\Haldeck\\Sorvane 7");
  ASSERT_NE(key, 0u);
  settings_close_key(key);
  EXPECT_EQ(contents(), before + "\r\n\r\n[HKEY_CURRENT_USER\\Software\\Haldeck\\Sorvane 7]\r\n");
  regfile::ParseResult r = regfile::parse(contents());
  ASSERT_TRUE(r.store);
  EXPECT_EQ(r.store->keys.size(), 2u);
}

// A store saved as UTF-16 gets its new key in UTF-16, both bytes of each
// unit, so that a name beyond ASCII reads back as it was given.
TEST_F(StoreFileOnDisk, KeyIsAppendedToAUtf16StoreInUtf16) {
  const std::u16string before =
      u"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\Other]\r\n";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : before) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  write(bytes);
  const std::u16string name = u"Software\\M\u00FCller \u20AC\u0100";
  SettingsKey key = settings_create_user_key(name);
  ASSERT_NE(key, 0u);
  settings_close_key(key);
  regfile::ParseResult r = regfile::parse(contents());
  ASSERT_TRUE(r.store) << r.error;
  EXPECT_TRUE(r.store->exists(u"HKEY_CURRENT_USER\\" + name));
  EXPECT_EQ(contents().compare(0, bytes.size(), bytes), 0) << "the store's text was not kept";
}

// A store that cannot grow (here: the process may write no larger file)
// gives no key, at once, and keeps its text.
TEST_F(StoreFileOnDisk, AStoreThatCannotGrowGivesNoKey) {
  const std::string before = "Windows Registry Editor Version 5.00\r\n";
  write(before);
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = before.size();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const SettingsKey key = settings_create_user_key(u"Software\\Haldeck\\Sorvane 7");
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_EQ(key, 0u);
  settings_close_key(key);
  EXPECT_EQ(contents(), before);
}

TEST_F(StoreFileOnDisk, DamagedStoreGivesDefaultsAndIsLeftAsItIs) {
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\Haldeck\\Sorvane 7\\General Settings]\n"
      "\"Default Line Width\"=\"300\"\n"
      "\"Tooltip Help\"=hex:0";
  write(damaged);
  svconfig::TSVOptions o = svconfig::load_options();
  EXPECT_EQ(o.DefaultLineWidth, 2);
  EXPECT_EQ(contents(), damaged);
}

TEST_F(StoreFileOnDisk, QueriesGiveTypeSizeAndTextUpToTheFirstZero) {
  write(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_CURRENT_USER\\Software\\Haldeck\\Sorvane 7\\General Settings]\n"
      "\"S\"=hex(1):41,00,00,00,42,00\n"
      "\"Odd\"=hex(2):41,00,42\n"
      "\"Euro\"=hex(1):ac,20,00,01,00,00\n"
      "\"D\"=dword:0000012c\n");
  SettingsKey product = settings_create_user_key(u"Software\\Haldeck\\Sorvane 7");
  SettingsKey general = settings_open_key(product, u"General Settings");
  ASSERT_NE(general, 0u);
  SettingsValue s = settings_query_value(general, u"s");
  EXPECT_EQ(s.kind, SettingsValue::Kind::string);
  EXPECT_FALSE(s.expandable);
  EXPECT_EQ(s.size, 6u);
  EXPECT_EQ(s.text, u"A");
  SettingsValue odd = settings_query_value(general, u"Odd");
  EXPECT_TRUE(odd.expandable);
  EXPECT_EQ(odd.text, u"A");
  EXPECT_EQ(settings_query_value(general, u"Euro").text, u"\u20AC\u0100");  // both bytes of a unit
  SettingsValue d = settings_query_value(general, u"D");
  EXPECT_EQ(d.kind, SettingsValue::Kind::other);
  EXPECT_EQ(d.type, 4u);
  EXPECT_EQ(d.size, 4u);
  EXPECT_EQ(settings_query_value(general, u"None").kind, SettingsValue::Kind::missing);
  settings_close_key(general);
  settings_close_key(product);
}

// Puts an environment variable back as it was.
class SavedEnv {
 public:
  explicit SavedEnv(const char* name) : name_(name) {
    const char* v = std::getenv(name);
    had_ = v != nullptr;
    if (v) value_ = v;
  }
  ~SavedEnv() {
    if (had_) ::setenv(name_, value_.c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_;
  std::string value_;
};

TEST(StoreFile, LocationFollowsTheUsersConfigurationFolder) {
  SavedEnv home("HOME"), xdg("XDG_CONFIG_HOME"), file("UDPSV_REGISTRY_FILE");
  ::unsetenv("UDPSV_REGISTRY_FILE");
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(regfile::store_path(), "/cfg/udpsv2simulink/registry.reg");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);  // ignored: not absolute
  ::setenv("HOME", "/home/u", 1);
  EXPECT_EQ(regfile::store_path(), "/home/u/.config/udpsv2simulink/registry.reg");
  ::setenv("UDPSV_REGISTRY_FILE", "/x/y.reg", 1);
  EXPECT_EQ(regfile::store_path(), "/x/y.reg");
  ::unsetenv("UDPSV_REGISTRY_FILE");
  ::unsetenv("XDG_CONFIG_HOME");
  ::unsetenv("HOME");
  EXPECT_EQ(regfile::store_path(), "");
}

}  // namespace
}  // namespace sv::platform
