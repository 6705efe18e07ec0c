// Long-lived use and damaged input through the exports: nothing leaks, a
// damaged model never over-reads, and a missing receiver never fails a step.
#include <dirent.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/user_data.h"
#include "plugin/block_record.h"
#include "system/model_file.h"
#include "system/udp_probe.h"
#include "tests/common/ext80.h"
#include "tests/common/failure.h"
#include "tests/common/texts.h"
#include "udpsv_exports.h"

namespace {

int open_descriptors() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

using svtest::last_failure;

TEST(Robustness, CyclesLeakNoSocket) {
  const int before = open_descriptors();
  const std::uint16_t port = svhost::closed_port();
  auto in = svtest::array({svtest::ext(1.0)});
  std::vector<unsigned char> record(8192, 0);
  for (int i = 0; i < 100000; ++i) {
    InitUserDLL(record.data());
    sv::block_record::user_data(record.data())->Port = port;
    InitSimulationDLL(record.data(), in.data(), 0);
    // Every few cycles the host forgets the run end before the next start.
    if (i % 7 == 0) InitSimulationDLL(record.data(), in.data(), 0);
    EndSimulationDLL2(record.data());
    DisposeUserDLL(record.data());
  }
  EXPECT_EQ(last_failure(), "");
  EXPECT_EQ(open_descriptors(), before);
}

TEST(Robustness, MissingReceiverNeverFailsAStep) {
  std::vector<unsigned char> record(8192, 0);
  InitUserDLL(record.data());
  sv::block_record::user_data(record.data())->Port = svhost::closed_port();
  auto in = svtest::array({svtest::ext(2.0)});
  InitSimulationDLL(record.data(), in.data(), 0);
  for (int i = 0; i < 1000; ++i) {
    SimulateDLL2(0, 0, 0, 0, 0, 0, record.data(), in.data(), 0);
    ASSERT_EQ(last_failure(), "") << "step " << i;
  }
  EndSimulationDLL2(record.data());
  DisposeUserDLL(record.data());
}

struct Damaged {
  const char* name;
  std::string section;
  std::string failure;  // "" when the load succeeds
};

std::string section(const std::string& inputs, const std::string& type = "0",
                    const std::string& port = "1600") {
  return "10067\r\n127.0.0.1\r\n" + port + "\r\n" + inputs + "\r\n" + type + "\r\n";
}

TEST(Robustness, DamagedModelsLoadOrFailClearlyAndStepsStayInBounds) {
  const std::string eof = "Unerwartetes Dateiende im Parameterabschnitt";
  const Damaged cases[] = {
      {"truncated", "10067\r\n127.0.", eof + " (Zeile 2 von 5)"},
      {"empty file", "", eof + " (Zeile 1 von 5)"},
      {"no CR LF", "10067\n127.0.0.1\n1600\n1\n0\n", eof + " (Zeile 1 von 5)"},
      {"long line", "10067\r\n" + std::string(10000, 'x') + "\r\n1600\r\n1\r\n0\r\n",
       "Zeile 2 des Parameterabschnitts ist länger als 999 Zeichen"},
      {"NUL bytes",
       std::string("100\0"
                   "67\r\n127.0.0.1\0junk\r\n1600\r\n1\r\n0\r\n",
                   36),
       ""},
      {"inputs -1", section("-1"), ""},
      {"inputs 0", section("0"), ""},
      {"inputs 51", section("51"), ""},
      {"inputs 255", section("255"), ""},
      {"inputs 256", section("256"), ""},
      {"inputs max", section("2147483647"), ""},
      {"type 99", section("3", "99"), ""},
      {"port 70000", section("1", "0", "70000"), ""},
      {"port -1", section("1", "0", "-1"), ""},
      {"port empty", section("1", "0", ""), svtest::not_an_integer("")},
      {"port blank", section("1", "0", "   "), svtest::not_an_integer("   ")},
  };
  const std::uint16_t port = svhost::closed_port();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    svhost::ModelFile f = svhost::ModelFile::create_temporary();
    f.write(c.section);
    f.seek(0);
    std::vector<unsigned char> record(8192, 0);
    InitUserDLL(record.data());
    ReadFromFile(f.handle(), record.data());
    const std::string failure = last_failure();
    EXPECT_EQ(failure.substr(0, c.failure.size()), c.failure);
    EXPECT_EQ(failure.empty(), c.failure.empty()) << failure;

    sv::TUserData* d = sv::block_record::user_data(record.data());
    d->Port = port;  // keep test traffic on a closed loopback port
    // The host provides as many values as the count byte it was told.
    const std::size_t provided = static_cast<std::uint8_t>(d->Inputs);
    std::vector<unsigned char> in(provided * 10, 0);
    InitSimulationDLL(record.data(), in.data(), 0);
    const std::string step = last_failure();
    if (d->Inputs < 0 || d->Inputs > 255) EXPECT_EQ(step, svtest::kRangeError);
    else EXPECT_EQ(step, "");
    EndSimulationDLL2(record.data());
    DisposeUserDLL(record.data());
  }
}

}  // namespace
