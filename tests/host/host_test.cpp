// The host emulator's own pieces, without a plug-in: the 80-bit values it
// builds, its signal specs and its line reader.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "host/signals.h"
#include "system/host_error.h"
#include "system/model_file.h"

namespace svhost {
namespace {

// No plug-in is loaded in this program, so the x87 unit has every exception
// masked and the compiler's own conversion is a safe reference.
Ext80 reference(double d) {
  long double ld = d;
  Ext80 out;
  std::memcpy(out.data(), &ld, 10);
  return out;
}

TEST(HostExt80, MatchesTheHardwareConversion) {
  for (double d :
       {0.0, -0.0, 1.0, -2.5, 0.1, 1e-310, 4.9406564584124654e-324,
        std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
        std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()})
    EXPECT_EQ(ext80_from_double(d), reference(d)) << d;
  std::mt19937_64 rng(42);
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t bits = rng();
    double d;
    std::memcpy(&d, &bits, 8);
    if (std::isnan(d)) continue;
    ASSERT_EQ(ext80_from_double(d), reference(d)) << std::hex << bits;
  }
}

TEST(HostExt80, KnownFormsAndSpecialConstants) {
  EXPECT_EQ(ext80_to_hex(ext80_from_double(1.0)), "3FFF8000000000000000");
  EXPECT_EQ(ext80_to_hex(ext80_from_double(-2.5)), "C000A000000000000000");
  EXPECT_EQ(ext80_to_hex(ext80_from_double(4.9406564584124654e-324)), "3BCD8000000000000000");
  EXPECT_EQ(ext80_to_hex(ext80_from_double(std::numeric_limits<double>::quiet_NaN())),
            "7FFFC000000000000000");
  EXPECT_EQ(ext80_to_hex(parse_constant("nan")), "7FFFC000000000000000");
  EXPECT_EQ(ext80_to_hex(parse_constant("-NaN")), "FFFFC000000000000000");
  EXPECT_EQ(ext80_to_hex(parse_constant("snan")), "7FFF8000000000000001");
  EXPECT_EQ(ext80_to_hex(parse_constant("inf")), "7FFF8000000000000000");
  EXPECT_EQ(ext80_to_hex(parse_constant("-inf")), "FFFF8000000000000000");
  EXPECT_EQ(ext80_to_hex(parse_constant("0x0001C0000000000000AB")), "0001C0000000000000AB");
  EXPECT_EQ(ext80_from_double(1e39), parse_constant("1e39"));
  const Ext80 one = ext80_from_double(1.0);
  EXPECT_EQ(one[7], 0x80);
  EXPECT_EQ(one[8], 0xFF);
  EXPECT_EQ(one[9], 0x3F);
  for (const char* bad : {"", "1e400", "1,5", "0x123", "0x3FFF80000000000000G0", "one"})
    EXPECT_THROW(parse_constant(bad), HostError) << bad;
}

double value(const SignalSet& set, int input, double t) {
  Ext80 e = set.value(input, t);
  long double ld;
  std::memcpy(&ld, e.data(), 10);
  return static_cast<double>(ld);
}

TEST(HostSignals, WaveformsAndSelectors) {
  SignalSet defaults;
  EXPECT_NEAR(value(defaults, 7, 0.25), 1.0, 1e-12);  // sine, 1 Hz, amplitude 1

  SignalSet set;
  set.add(parse_signal("sine:amp=2,freq=0.5,offset=1,phase-step=90"));
  set.add(parse_signal("3=square:period=2,amp=4"));
  set.add(parse_signal("4-5=ramp:amp=10,freq=1,phase=90"));
  set.add(parse_signal("6=const:-1.5"));
  EXPECT_NEAR(value(set, 1, 0.5), 3.0, 1e-12);  // 1 + 2 sin(90 deg)
  EXPECT_NEAR(value(set, 2, 0.5), 1.0, 1e-12);  // a quarter turn later: sin(180 deg)
  EXPECT_EQ(value(set, 3, 0.5), 4.0);
  EXPECT_EQ(value(set, 3, 1.5), -4.0);
  EXPECT_EQ(value(set, 4, 0.0), 2.5);
  EXPECT_EQ(value(set, 5, 0.5), 7.5);
  EXPECT_EQ(value(set, 6, 123.0), -1.5);
  EXPECT_NEAR(value(set, 7, 0.5), 1.0 + 2.0 * std::sin(2 * 3.14159265358979323846 * (0.25 + 1.5)),
              1e-12);

  SignalSet partial;
  partial.add(parse_signal("2=const:5"));
  EXPECT_EQ(value(partial, 1, 0.3), 0.0);
  EXPECT_EQ(value(partial, 2, 0.3), 5.0);

  std::vector<unsigned char> array(30, 0xEE);
  partial.fill(0.0, 2, array.data());
  EXPECT_EQ(array[29], 0xEE);
  EXPECT_EQ(std::memcmp(array.data() + 10, ext80_from_double(5.0).data(), 10), 0);
}

TEST(HostSignals, BadSpecsAreExplained) {
  for (const char* bad :
       {"wave", "sine:amp", "sine:volume=3", "sine:amp=1e200", "0=sine", "3-2=sine", "x=sine",
        "const", "const:abc", "square:period=0", "sine:freq=inf"}) {
    try {
      parse_signal(bad);
      ADD_FAILURE() << bad << " was accepted";
    } catch (const HostError& e) {
      EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
    }
  }
}

TEST(HostModelFile, EndOnlyAtCrLf) {
  ModelFile f = ModelFile::create_temporary();
  f.write(std::string("one\r\ntwo\rthree\nfour\r\n\r\nlast"));
  f.seek(0);
  std::string line;
  ASSERT_TRUE(f.read_line(&line));
  EXPECT_EQ(line, "one");
  EXPECT_EQ(f.tell(), 5);
  ASSERT_TRUE(f.read_line(&line));
  EXPECT_EQ(line, "two\rthree\nfour");
  ASSERT_TRUE(f.read_line(&line));
  EXPECT_EQ(line, "");
  EXPECT_THROW(f.read_line(&line), HostError);
  EXPECT_FALSE(f.read_line(&line));
  f.seek(5);
  EXPECT_EQ(f.read_rest(), "two\rthree\nfour\r\n\r\nlast");
}

}  // namespace
}  // namespace svhost
