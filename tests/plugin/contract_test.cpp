// The plug-in seen from a host: its exports called through the host
// emulator, its sections on real files, its frames on real loopback UDP.
// Uses only the host library, so the same source runs natively and under
// Wine.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/block.h"
#include "host/model.h"
#include "host/plugin.h"
#include "host/signals.h"
#include "system/model_file.h"
#include "system/udp_probe.h"
#include "tests/common/ext80.h"
#include "tests/common/plugin.h"
#include "tests/common/texts.h"

namespace svhost {
namespace {

using Bytes = std::vector<std::uint8_t>;
using svtest::bytes;
using svtest::inputs;
using svtest::LoadedPlugin;

// As the host gets them: under Wine in the run's ANSI code page.
const std::string kConvertAbc = svtest::as_host_gets(svtest::not_an_integer("abc"));
const std::string kRangeError = svtest::as_host_gets(svtest::kRangeError);
const std::string kInvalidOp = svtest::as_host_gets(svtest::kInvalidOp);
const std::string kOverflow = svtest::as_host_gets(svtest::kOverflow);
using svtest::kHostNotFound;

std::string saved(Block& block) {
  std::string bytes;
  CallResult r = block.save_section(&bytes);
  EXPECT_TRUE(r.ok) << r.failure;
  return bytes;
}

// A block sending to the probe, and a second one that sends a one-int32
// marker frame: a marker arriving first proves that nothing came before it,
// without waiting for a timeout.
class Wire : public LoadedPlugin {
 protected:
  std::unique_ptr<Block> block_for(std::int64_t inputs_count, std::int64_t type,
                                   const std::string& host = "127.0.0.1") {
    return svtest::block_for(plugin(), {0, host, probe_.port(), inputs_count, type});
  }

  Bytes next() {
    auto d = probe_.receive();
    EXPECT_TRUE(d.has_value()) << "no datagram within " << kArrivalMs / 1000 << " s";
    return d.value_or(Bytes{});
  }

  // Sends the marker and expects it to be the next datagram.
  void expect_nothing_before_marker() {
    auto marker = block_for(1, 2);
    auto values = inputs({-7.0});
    ASSERT_TRUE(marker->start_run(values.data()).ok);
    EXPECT_EQ(next(), bytes({0xF9, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(marker->end_run().ok);
  }

  UdpProbe probe_;
};

using DescribingExports = LoadedPlugin;
using InputsOutputs = LoadedPlugin;
using SectionFile = LoadedPlugin;
using ReceiverAbsent = LoadedPlugin;
using LastFailure = LoadedPlugin;

// ---- describing exports ---------------------------------------------------

TEST_F(DescribingExports, WriteOnlyTheirBytes) {
  std::vector<unsigned char> p(kParameterStructSize, 0xA5);
  ASSERT_TRUE(plugin().parameter_struct(p.data()).ok);
  for (std::size_t i = 0; i < p.size(); ++i) {
    int expected = i == 1 ? 1 : (i <= 2 || (i >= 323 && i <= 326)) ? 0 : 0xA5;
    EXPECT_EQ(p[i], expected) << "parameter struct byte " << i;
  }

  std::vector<unsigned char> d(kDialogEnableStructSize, 0xA5);
  ASSERT_TRUE(plugin().dialog_enable_struct(d.data(), 77).ok);
  for (std::size_t i = 0; i < d.size(); ++i) {
    int expected = i < 12 ? 0xFF : i == 12 ? 1 : 0xA5;
    EXPECT_EQ(d[i], expected) << "dialog-enable struct byte " << i;
  }
}

TEST_F(DescribingExports, NameAndCanSimulate) {
  EXPECT_TRUE(plugin().is_user_dll32().ok);
  std::string name1, name2;
  const char* a1 = nullptr;
  const char* a2 = nullptr;
  ASSERT_TRUE(plugin().dll_name(&name1, &a1).ok);
  ASSERT_TRUE(plugin().dll_name(&name2, &a2).ok);
  EXPECT_EQ(name1, "UDP Sorvane2Simulink");
  EXPECT_EQ(a1, a2);
  for (std::intptr_t arg : {std::intptr_t{0}, std::intptr_t{-1}, std::intptr_t{12345}}) {
    std::int32_t can = 0;
    ASSERT_TRUE(plugin().can_simulate(&can, arg).ok);
    EXPECT_EQ(can, 1);
  }
}

// ---- inputs and outputs ---------------------------------------------------

TEST_F(InputsOutputs, NullUserDataWritesNothing) {
  std::vector<unsigned char> io(kInputsOutputsSize, 0xA5);
  ASSERT_TRUE(plugin().number_of_inputs_outputs(io.data(), nullptr).ok);
  EXPECT_EQ(io, std::vector<unsigned char>(kInputsOutputsSize, 0xA5));
}

TEST_F(InputsOutputs, AllFiftyNamesInTheirSlots) {
  auto block = svtest::new_block(plugin());
  ASSERT_TRUE(configure(*block, {0, "127.0.0.1", 1600, 3, 0}).ok);
  std::vector<unsigned char> io(kInputsOutputsSize, 0xA5);
  ASSERT_TRUE(plugin().number_of_inputs_outputs(io.data(), block->user_data()).ok);
  EXPECT_EQ(io[0], 3);
  EXPECT_EQ(io[1], 0);
  for (int i = 1; i <= 50; ++i) {
    const std::size_t slot = 2 + 41 * (i - 1);
    const std::string name = "Input " + std::to_string(i);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&io[slot]), name.size()), name);
    EXPECT_EQ(io[slot + name.size()], 0) << name;
    for (std::size_t k = slot + name.size() + 1; k < slot + 41; ++k)
      ASSERT_EQ(io[k], 0xA5) << name << ", slot byte " << k - slot;
  }
  EXPECT_EQ(2 + 41 * 49, 2011);
  for (std::size_t k = 2 + 41 * 50; k < io.size(); ++k) ASSERT_EQ(io[k], 0xA5) << k;

  // The low 8 bits of Inputs are the count.
  ASSERT_TRUE(configure(*block, {0, "127.0.0.1", 1600, 300, 0}).ok);
  IoInfo info;
  ASSERT_TRUE(block->query_io(&info).ok);
  EXPECT_EQ(info.inputs, 300 % 256);
  EXPECT_EQ(info.names.back(), "Input 50");
}

// ---- parameter section ----------------------------------------------------

TEST_F(SectionFile, DefaultBlockWritesThirtyBytes) {
  auto block = svtest::new_block(plugin());
  std::string s = saved(*block);
  const Bytes expected = bytes({0x31, 0x30, 0x30, 0x36, 0x37, 0x0D, 0x0A, 0x31, 0x32, 0x37,
                                0x2E, 0x30, 0x2E, 0x30, 0x2E, 0x31, 0x0D, 0x0A, 0x31, 0x36,
                                0x30, 0x30, 0x0D, 0x0A, 0x31, 0x0D, 0x0A, 0x30, 0x0D, 0x0A});
  EXPECT_EQ(Bytes(s.begin(), s.end()), expected);
}

TEST_F(SectionFile, RoundTrips) {
  auto block = svtest::new_block(plugin());
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"42\r\n10.0.0.7\r\n-5\r\n50\r\n3\r\n", "10067\r\n10.0.0.7\r\n-5\r\n50\r\n3\r\n"},
      {"-1\r\n\r\n0\r\n0\r\n7\r\n", "10067\r\n\r\n0\r\n0\r\n7\r\n"},  // empty address
      {"1\r\nhost.example\r\n  65535\r\n+2\r\n0x1\r\n",
       "10067\r\nhost.example\r\n65535\r\n2\r\n1\r\n"},
      {"1\r\na\rb\nc\n\r\r\n1\r\n1\r\n1\r\n",
       "10067\r\na\rb\nc\n\r\r\n1\r\n1\r\n1\r\n"},  // lone CR, LF
  };
  for (const auto& c : cases) {
    std::int64_t consumed = -1;
    CallResult r = block->load_section(std::string(c.in) + "tail", &consumed);
    ASSERT_TRUE(r.ok) << c.in << ": " << r.failure;
    EXPECT_EQ(consumed, static_cast<std::int64_t>(std::strlen(c.in))) << c.in;
    EXPECT_EQ(saved(*block), c.out);
  }
}

TEST_F(SectionFile, BadLineStopsTheLoadAfterItsLineEnd) {
  auto block = svtest::new_block(plugin());
  const std::string good = "7\r\n10.1.2.3\r\n2000\r\n";
  std::int64_t consumed = -1;
  CallResult r = block->load_section(good + "abc\r\n3\r\nmore", &consumed);
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.failure, kConvertAbc);
  EXPECT_EQ(consumed, static_cast<std::int64_t>(good.size() + 5));
  // Address and port were taken, inputs and data type kept their defaults.
  EXPECT_EQ(saved(*block), "10067\r\n10.1.2.3\r\n2000\r\n1\r\n0\r\n");

  // A leading blank is skipped, a trailing one is an error.
  r = block->load_section("1\r\nx\r\n 1601\r\n2\r\n3\r\n");
  EXPECT_TRUE(r.ok) << r.failure;
  r = block->load_section("1\r\ny\r\n1602 \r\n4\r\n0\r\n");
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.failure, svtest::as_host_gets(svtest::not_an_integer("1602 ")));
  EXPECT_EQ(saved(*block), "10067\r\ny\r\n1601\r\n2\r\n3\r\n");
  // Outside the 32-bit range.
  r = block->load_section("2147483648\r\n");
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.failure, svtest::as_host_gets(svtest::not_an_integer("2147483648")));
}

TEST_F(SectionFile, TruncatedOrOverlongSectionFails) {
  auto block = svtest::new_block(plugin());
  for (const char* text : {"", "1\r\n127.0.0.1\r\n16", "1\r\n127.0.0.1\r\n1600\r\n1\r\n0\r"}) {
    CallResult r = block->load_section(text);
    EXPECT_FALSE(r.ok) << "section '" << text << "' was accepted";
    EXPECT_FALSE(r.failure.empty());
  }
  // 999 bytes of text fit the line buffer, 1000 do not.
  const std::string rest = "\r\n1\r\n1\r\n0\r\n";
  EXPECT_TRUE(block->load_section("1\r\n" + std::string(999, 'a') + rest).ok);
  std::int64_t consumed = -1;
  CallResult r = block->load_section("1\r\n" + std::string(1000, 'b') + rest, &consumed);
  EXPECT_FALSE(r.ok);
  EXPECT_FALSE(r.failure.empty());
  // Whatever the block kept, what it writes reads back.
  std::string again = saved(*block);
  auto other = svtest::new_block(plugin());
  ASSERT_TRUE(other->load_section(again).ok);
  EXPECT_EQ(saved(*other), again);
}

TEST_F(SectionFile, ModelFileWithSeveralBlocks) {
  auto a = svtest::new_block(plugin());
  auto b = svtest::new_block(plugin());
  ASSERT_TRUE(configure(*a, {0, "10.0.0.1", 1, 2, 3}).ok);
  ASSERT_TRUE(configure(*b, {0, "name.example", 65535, 50, 1}).ok);
  ModelFile tmp = ModelFile::create_temporary();
  const std::string path = tmp.path() + ".svm";
  save_model(path, plugin(), {a.get(), b.get()});
  auto loaded = load_model(path, plugin());
  std::remove(path.c_str());
  ASSERT_EQ(loaded.size(), 2u);
  EXPECT_EQ(saved(*loaded[0].block), saved(*a));
  EXPECT_EQ(saved(*loaded[1].block), saved(*b));
  EXPECT_EQ(loaded[1].name, "UDP Sorvane2Simulink");
}

// ---- frames on the wire ---------------------------------------------------

TEST_F(Wire, FramesAreByteExact) {
  struct Case {
    std::int64_t count, type;
    std::vector<unsigned char> values;
    Bytes frame;
  } cases[] = {
      {3, 2, inputs({1.0, -2.5, 3.5}), bytes({1, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0})},
      {4, 3, inputs({0.5, 0.0, -0.0, -1.0}), bytes({1, 0, 0, 0})},
      {1, 0, inputs({1.0}), bytes({0, 0, 0, 0, 0, 0, 0xF0, 0x3F})},
      {1, 1, inputs({1.0}), bytes({0, 0, 0x80, 0x3F})},
      {3, 2, inputs({0.5, -0.5, 1.5}), bytes({0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0})},
      {2, 2, inputs({2147483648.0, 4294967296.0}), bytes({0, 0, 0, 0x80, 0, 0, 0, 0})},
      {2, 3,
       inputs({ext80_from_hex("7FFF8000000000000000"), ext80_from_hex("FFFF8000000000000000")}),
       bytes({1, 0})},
  };
  for (const auto& c : cases) {
    auto block = block_for(c.count, c.type);
    ASSERT_TRUE(block->start_run(c.values.data()).ok);
    EXPECT_EQ(next(), c.frame) << "type " << c.type;
    ASSERT_TRUE(block->end_run().ok);
  }
}

TEST_F(Wire, FiftyDoublesMakeFourHundredBytes) {
  std::vector<Ext80> values;
  for (int i = 1; i <= 50; ++i) values.push_back(ext80_from_double(i * 0.25));
  auto array = inputs(values);
  auto block = block_for(50, 0);
  ASSERT_TRUE(block->start_run(array.data()).ok);
  Bytes frame = next();
  ASSERT_EQ(frame.size(), 400u);
  double last;
  std::memcpy(&last, &frame[392], 8);
  EXPECT_EQ(last, 12.5);
  EXPECT_TRUE(block->end_run().ok);
}

TEST_F(Wire, RunOfNStepsSendsNPlusOneFrames) {
  auto block = block_for(1, 2);
  auto start = inputs({100.0});
  ASSERT_TRUE(block->start_run(start.data()).ok);
  const int steps = 20;
  for (int k = 1; k <= steps; ++k) {
    auto v = inputs({static_cast<double>(k)});
    ASSERT_TRUE(block->step(v.data()).ok) << k;
  }
  EXPECT_TRUE(block->end_run().ok);
  EXPECT_TRUE(block->end_run().ok);  // a second end is harmless
  EXPECT_EQ(next(), bytes({100, 0, 0, 0}));
  for (int k = 1; k <= steps; ++k) EXPECT_EQ(next(), bytes({k, 0, 0, 0}));
  expect_nothing_before_marker();
  EXPECT_EQ(probe_.received(), static_cast<std::size_t>(steps + 2));
}

TEST_F(Wire, EmptyFramesSendNothing) {
  for (auto [count, type] : {std::pair<int, int>{3, 4}, {3, -1}, {0, 0}, {0, 3}}) {
    auto block = block_for(count, type);
    auto v = inputs({1.0, 2.0, 3.0});
    EXPECT_TRUE(block->start_run(v.data()).ok) << count << "/" << type;
    EXPECT_TRUE(block->step(v.data()).ok);
    EXPECT_TRUE(block->end_run().ok);
  }
  expect_nothing_before_marker();
}

TEST_F(Wire, NegativeInputsIsARangeError) {
  auto block = block_for(-1, 0);
  auto v = inputs({1.0});
  CallResult r = block->start_run(v.data());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, kRangeError);
  r = block->step(v.data());
  EXPECT_EQ(r.failure, kRangeError);
  EXPECT_TRUE(block->end_run().ok);
  expect_nothing_before_marker();
}

// A damaged section may give more inputs than the host can report (its count
// is one byte): the block reads no more values than that.
TEST_F(Wire, DamagedInputCountStaysWithinTheHostArray) {
  std::vector<Ext80> values(kMaxInputValues, ext80_from_double(1.0));
  auto array = inputs(values);
  auto block = block_for(255, 3);
  ASSERT_TRUE(block->start_run(array.data()).ok);
  EXPECT_EQ(next(), Bytes(255, 1));
  EXPECT_TRUE(block->end_run().ok);
  auto over = block_for(256, 3);
  CallResult r = over->start_run(array.data());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, kRangeError);
  EXPECT_TRUE(over->end_run().ok);
  expect_nothing_before_marker();
}

TEST_F(Wire, TrappedConversionFailsOnlyItsStep) {
  struct Case {
    int type;
    Ext80 bad;
    const std::string& text;
  } cases[] = {
      {2, parse_constant("nan"), kInvalidOp},  {2, parse_constant("-inf"), kInvalidOp},
      {3, parse_constant("nan"), kInvalidOp},  {3, parse_constant("snan"), kInvalidOp},
      {1, ext80_from_double(1e39), kOverflow}, {0, parse_constant("snan"), kInvalidOp},
  };
  for (const auto& c : cases) {
    auto block = block_for(2, c.type);
    auto good = inputs({1.0, 1.0});
    auto bad = inputs({ext80_from_double(1.0), c.bad});
    ASSERT_TRUE(block->start_run(good.data()).ok);
    Bytes first = next();
    CallResult r = block->step(bad.data());
    EXPECT_FALSE(r.ok) << "type " << c.type << " " << ext80_to_hex(c.bad);
    EXPECT_EQ(r.failure, c.text);
    // The next step works again and is the next frame on the wire.
    ASSERT_TRUE(block->step(good.data()).ok);
    EXPECT_EQ(next(), first);
    EXPECT_TRUE(block->end_run().ok);
  }
  expect_nothing_before_marker();
}

TEST_F(Wire, UnresolvableHostFailsRunStartAndSteps) {
  auto block = block_for(1, 0, "no-such-host.invalid");
  auto v = inputs({1.0});
  CallResult r = block->start_run(v.data());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.failure, kHostNotFound);
  r = block->step(v.data());
  EXPECT_EQ(r.failure, kHostNotFound);
  EXPECT_TRUE(block->end_run().ok);
  EXPECT_TRUE(block->end_run().ok);
}

// UDP to a loopback port where nobody listens may bring back an ICMP error;
// it must never surface as a failed step, whether the receiver was never
// there or goes away and comes back in the middle of a run.
TEST_F(ReceiverAbsent, NeverFailsAStep) {
  auto block = svtest::new_block(plugin());
  std::uint16_t port;
  {
    UdpProbe gone;
    port = gone.port();
  }
  ASSERT_TRUE(configure(*block, {0, "127.0.0.1", port, 2, 0}).ok);
  auto v = inputs({1.0, 2.0});
  CallResult r = block->start_run(v.data());
  ASSERT_TRUE(r.ok) << r.failure;
  for (int k = 0; k < 200; ++k) {
    r = block->step(v.data());
    ASSERT_TRUE(r.ok) << "step " << k << ": " << r.failure;
  }
  EXPECT_TRUE(block->end_run().ok);
}

TEST_F(ReceiverAbsent, ReceiverGoneMidRun) {
  auto block = svtest::new_block(plugin());
  auto probe = std::make_unique<UdpProbe>();
  ASSERT_TRUE(configure(*block, {0, "127.0.0.1", probe->port(), 1, 2}).ok);
  auto one = inputs({1.0});
  ASSERT_TRUE(block->start_run(one.data()).ok);
  EXPECT_TRUE(probe->receive().has_value());
  probe.reset();  // the receiver stops
  for (int k = 0; k < 50; ++k) {
    CallResult r = block->step(one.data());
    ASSERT_TRUE(r.ok) << "step " << k << ": " << r.failure;
  }
  EXPECT_TRUE(block->end_run().ok);
}

// ---- the command line -----------------------------------------------------

int svhost(std::vector<std::string> args) { return svtest::svhost(std::move(args)).code; }

TEST_F(Wire, CommandLineWritesAndRunsAModel) {
  ModelFile tmp = ModelFile::create_temporary();
  const std::string model = tmp.path() + ".svm";
  const std::string port = std::to_string(probe_.port());
  ASSERT_EQ(svhost({"new", model, "--plugin", SV_TEST_PLUGIN_PATH, "--port", port, "--inputs", "2",
                    "--type", "int32", "--blocks", "2"}),
            0);
  EXPECT_EQ(svhost({"show", model, "--plugin", SV_TEST_PLUGIN_PATH}), 0);
  EXPECT_EQ(svhost({"run", SV_TEST_PLUGIN_PATH, model, "--steps", "4", "--block", "2", "--dt", "1",
                    "--quiet", "--signal", "const:-4", "--signal", "1=ramp:amp=4,period=4"}),
            0);
  for (int k = 0; k <= 4; ++k)  // the ramp rises by 1 per step and wraps at 4
    EXPECT_EQ(next(), bytes({k % 4, 0, 0, 0, 0xFC, 0xFF, 0xFF, 0xFF})) << k;
  EXPECT_EQ(svhost({"run", SV_TEST_PLUGIN_PATH, model, "--steps", "3", "--dt", "1", "--quiet",
                    "--signal", "2=const:nan", "--signal", "1=ramp:amp=4,period=4"}),
            1);
  // Step 0 and the later ones fail on input 2's NaN; nothing reaches the wire.
  expect_nothing_before_marker();

  EXPECT_EQ(svhost({"run", SV_TEST_PLUGIN_PATH, model, "--signal", "sine:amp=x"}), 2);
  EXPECT_EQ(svhost({"new", model, "--plugin", SV_TEST_PLUGIN_PATH, "--type", "float"}), 2);
  EXPECT_EQ(svhost({"info", "no-such-plugin-file"}), 2);
  std::remove(model.c_str());
  EXPECT_EQ(svhost({"run", SV_TEST_PLUGIN_PATH, model}), 2);
}

// ---- GetLastFailureDLL ----------------------------------------------------

TEST_F(LastFailure, ReportsTheLatestCall) {
  auto block = svtest::new_block(plugin());
  char buf[256];
  ASSERT_FALSE(block->load_section("1\r\nx\r\nabc\r\n").ok);
  const std::int32_t n = plugin().last_failure(buf, sizeof buf);
  ASSERT_GT(n, 0);
  EXPECT_EQ(static_cast<std::size_t>(n), std::strlen(buf));
  EXPECT_EQ(failure_text_to_utf8(buf), kConvertAbc);

  // Truncated to size - 1 bytes and a zero; the length stays the full one.
  char small[6];
  std::memset(small, 'Z', sizeof small);
  EXPECT_EQ(plugin().last_failure(small, 5), n);
  EXPECT_EQ(std::string(small, 5), std::string(buf, 4) + '\0');
  EXPECT_EQ(small[5], 'Z');
  // Room for one byte holds the zero alone.
  std::memset(small, 'Z', sizeof small);
  EXPECT_EQ(plugin().last_failure(small, 1), n);
  EXPECT_EQ(small[0], '\0');
  EXPECT_EQ(small[1], 'Z');
  // Room for nothing: not a byte is written, with a failure or without.
  std::memset(small, 'Z', sizeof small);
  EXPECT_EQ(plugin().last_failure(small, 0), n);
  EXPECT_EQ(plugin().last_failure(nullptr, 0), n);

  // Any successful export clears it.
  ASSERT_TRUE(plugin().is_user_dll32().ok);
  buf[0] = 'x';
  EXPECT_EQ(plugin().last_failure(buf, sizeof buf), 0);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(plugin().last_failure(small, 0), 0);
  EXPECT_EQ(std::string(small, sizeof small), "ZZZZZZ");
}

}  // namespace
}  // namespace svhost
