// Runs the real receiver as a child process and talks to it over 127.0.0.1.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/common/deadline.h"

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;
using svtest::kDeadline;

// The receiver's own --timeout: it ends a receiver whose frames were lost
// well before the test stops waiting for its exit.
const std::string kReceiverTimeout = std::to_string(kDeadline.count() / 2);

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// One run of the receiver in a fresh directory that holds its port file, its
// CSV and what it wrote to stdout and stderr.
class Receiver {
 public:
  Receiver() {
    std::string tmpl = testing::TempDir() + "udpsv-recv-XXXXXX";
    if (mkdtemp(tmpl.data())) dir_ = tmpl;
  }
  ~Receiver() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Receiver(const Receiver&) = delete;
  Receiver& operator=(const Receiver&) = delete;

  std::string path(const char* name) const { return dir_ + "/" + name; }

  bool start(std::vector<std::string> args) {
    if (dir_.empty()) return false;
    args.insert(args.begin(), SV_RECV_BINARY);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    const std::string out = path("stdout"), err = path("stderr");
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int rc = posix_spawn(&pid_, SV_RECV_BINARY, &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) pid_ = -1;
    return rc == 0;
  }

  // The port from the port file, or 0 when it did not appear in time.
  std::uint16_t wait_for_port() const {
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    for (; std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(10ms)) {
      const std::string text = read_file(path("port"));
      if (!text.empty()) return static_cast<std::uint16_t>(std::stoul(text));
    }
    return 0;
  }

  // The exit status, or -1 when the child did not exit normally in time.
  int wait_exit() {
    const auto until = std::chrono::steady_clock::now() + kDeadline;
    for (; pid_ > 0 && std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(5ms)) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
    }
    return -1;
  }

  void signal(int sig) const { kill(pid_, sig); }

  // What a failed wait reports: how long it waited (wait_exit's -1 is also
  // a death by a signal) and what the receiver said.
  std::string seen() const {
    return "waited up to " + std::to_string(kDeadline.count()) + " s; stderr: " + err();
  }

  std::string out() const { return read_file(path("stdout")); }
  std::string err() const { return read_file(path("stderr")); }

 private:
  std::string dir_;
  pid_t pid_ = -1;
};

void send_to(std::uint16_t port, const Bytes& payload) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(
      sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
      static_cast<ssize_t>(payload.size()));
  close(fd);
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::istringstream in(s);
  for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
  return parts;
}

TEST(UdpsvRecv, WritesCsvOfReceivedFramesAndEndsAfterCount) {
  Receiver r;
  ASSERT_TRUE(r.start({"--port", "0", "--port-file", r.path("port"), "--count", "2", "--csv",
                       r.path("frames.csv"), "--type", "int32", "--timeout", kReceiverTimeout}));
  const std::uint16_t port = r.wait_for_port();
  ASSERT_NE(port, 0) << r.seen();
  send_to(port, {0x01, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0, 0, 0});
  send_to(port, {0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF, 0x7F, 0, 0, 0, 0});
  ASSERT_EQ(r.wait_exit(), 0) << r.seen();

  const auto rows = split(read_file(r.path("frames.csv")), '\n');
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0], "frame,seconds,bytes,v1,v2,v3");
  const auto first = split(rows[1], ',');
  const auto second = split(rows[2], ',');
  ASSERT_EQ(first.size(), 6u) << rows[1];
  ASSERT_EQ(second.size(), 6u) << rows[2];
  EXPECT_EQ(first[0], "1");
  EXPECT_EQ(first[1], "0.000000");
  EXPECT_EQ(std::vector<std::string>(first.begin() + 2, first.end()),
            (std::vector<std::string>{"12", "1", "-2", "4"}));
  EXPECT_EQ(second[0], "2");
  EXPECT_GE(std::stod(second[1]), 0.0);
  EXPECT_EQ(std::vector<std::string>(second.begin() + 2, second.end()),
            (std::vector<std::string>{"12", "-2147483648", "2147483647", "0"}));

  const std::string err = r.err();
  EXPECT_NE(err.find("listening on 127.0.0.1:" + std::to_string(port) + "\n"), std::string::npos)
      << err;
  EXPECT_NE(err.find("2 frames received, 0 malformed, 24 bytes"), std::string::npos) << err;
}

// Malformed frames are reported and counted, and --expect does not let them
// pass for frames.
TEST(UdpsvRecv, MalformedFramesAreReportedAndFailExpect) {
  Receiver r;
  ASSERT_TRUE(
      r.start({"--port=0", "--port-file", r.path("port"), "--type", "double", "--inputs", "2",
               "--count", "4", "--expect", "3", "--timeout", kReceiverTimeout, "--hex"}));
  const std::uint16_t port = r.wait_for_port();
  ASSERT_NE(port, 0) << r.seen();
  send_to(port, {});
  send_to(port, Bytes(8, 0));
  send_to(port, Bytes(17, 0));
  send_to(port, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0, 0, 0, 0xF0, 0x7F});
  EXPECT_EQ(r.wait_exit(), 3) << r.seen();

  const auto lines = split(r.out(), '\n');
  int malformed = 0;
  for (const auto& l : lines) malformed += l.find("MALFORMED") != std::string::npos;
  EXPECT_EQ(malformed, 3) << r.out();
  EXPECT_NE(r.out().find("empty datagram"), std::string::npos) << r.out();
  EXPECT_NE(r.out().find("1  inf\n"), std::string::npos) << r.out();
  EXPECT_NE(r.out().find("0000: 00 00 00 00 00 00 f0 3f 00 00 00 00 00 00 f0 7f\n"),
            std::string::npos)
      << r.out();
  EXPECT_NE(r.err().find("4 frames received, 3 malformed, 41 bytes"), std::string::npos) << r.err();
}

TEST(UdpsvRecv, StopsOnSigtermAndWhenIdle) {
  Receiver term;
  ASSERT_TRUE(
      term.start({"--port", "0", "--port-file", term.path("port"), "--timeout", kReceiverTimeout}));
  ASSERT_NE(term.wait_for_port(), 0) << term.seen();
  term.signal(SIGTERM);
  EXPECT_EQ(term.wait_exit(), 0) << term.seen();
  EXPECT_NE(term.err().find("0 frames received"), std::string::npos) << term.err();
  EXPECT_NE(term.err().find("SIGTERM"), std::string::npos) << term.err();

  Receiver idle;
  ASSERT_TRUE(idle.start({"--port", "0", "--idle", "0.2", "--expect", "1", "--quiet"}));
  EXPECT_EQ(idle.wait_exit(), 3) << idle.seen();
  EXPECT_NE(idle.err().find("idle"), std::string::npos) << idle.err();
}

TEST(UdpsvRecv, BadArgumentsExitWithTwo) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--type", "float"},
                                               {"--port", "65536"},
                                               {"--inputs", "0"},
                                               {"--count", "-1"},
                                               {"--timeout", "nan"},
                                               {"--idle"},
                                               {"--quiet=yes"},
                                               {"extra"},
                                               {"--http", "127.0.0.1:65536"},
                                               {"--http", ":8080"},
                                               {"--http-port-file", "p"}}) {
    Receiver r;
    ASSERT_TRUE(r.start(args));
    EXPECT_EQ(r.wait_exit(), 2) << args[0] << ": " << r.seen();
    EXPECT_NE(r.err().find("udpsv-recv: "), std::string::npos) << r.err();
    EXPECT_EQ(r.err().find("listening"), std::string::npos) << r.err();
  }
}

// A port that another socket holds fails the start with the system's words
// and what they mean, as does a CSV file that cannot be made.
TEST(UdpsvRecv, APortThatIsTakenOrAFileThatCannotBeMadeExitsWithOne) {
  const int holder = socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(holder, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof at;
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&at), &len), 0);
  const std::string port = std::to_string(ntohs(at.sin_port));

  Receiver taken;
  ASSERT_TRUE(taken.start({"--port", port, "--timeout", "15"}));
  EXPECT_EQ(taken.wait_exit(), 1) << taken.err();
  EXPECT_NE(
      taken.err().find("udpsv-recv: cannot bind 127.0.0.1:" + port + ": Address already in use\n"),
      std::string::npos)
      << taken.err();
  EXPECT_NE(taken.err().find("another program already receives on port " + port +
                             " (another udpsv-recv, a script or a Simulink model): close it, "
                             "or choose another port with --port"),
            std::string::npos)
      << taken.err();
  close(holder);

  Receiver no_csv;
  ASSERT_TRUE(no_csv.start({"--port", "0", "--csv", no_csv.path("no/such/folder.csv")}));
  EXPECT_EQ(no_csv.wait_exit(), 1) << no_csv.err();
  EXPECT_NE(no_csv.err().find("No such file or directory"), std::string::npos) << no_csv.err();
}

// The system's view of the receiver's socket on 127.0.0.1:port from
// /proc/net/udp: bytes waiting in its queue and datagrams dropped for a full
// queue; nullopt while no such socket is listed.
struct QueueState {
  unsigned long queued = 0, drops = 0;
};
std::optional<QueueState> queue_state(std::uint16_t port) {
  std::ifstream in("/proc/net/udp");
  std::string line;
  std::getline(in, line);  // the header
  char wanted[16];
  std::snprintf(wanted, sizeof wanted, "0100007F:%04X", port);
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string slot, local, remote, state, queues, field;
    f >> slot >> local >> remote >> state >> queues;
    if (local != wanted) continue;
    for (int i = 0; i < 6; ++i) f >> field;  // tr:when, retrnsmt, uid, timeout, inode, ref
    f >> field;                              // pointer
    QueueState q;
    q.queued = std::stoul(queues.substr(queues.find(':') + 1), nullptr, 16);
    f >> q.drops;
    return q;
  }
  return std::nullopt;
}

// Datagrams the system drops while the receiver does not read are counted
// and reported in its summary, with the count the system keeps.
TEST(UdpsvRecv, ReportsTheDatagramsLostToAFullReceiveQueue) {
  Receiver r;
  ASSERT_TRUE(r.start({"--port", "0", "--port-file", r.path("port"), "--quiet", "--idle", "1",
                       "--timeout", kReceiverTimeout}));
  const std::uint16_t port = r.wait_for_port();
  ASSERT_NE(port, 0) << r.seen();
  r.signal(SIGSTOP);
  const Bytes frame(1000, 0);
  const auto until = std::chrono::steady_clock::now() + kDeadline;
  std::optional<QueueState> q;
  while ((q = queue_state(port)) && q->drops == 0 && std::chrono::steady_clock::now() < until) {
    for (int i = 0; i < 100; ++i) send_to(port, frame);
  }
  r.signal(SIGCONT);
  ASSERT_TRUE(q && q->drops > 0) << "the system dropped nothing while the receiver was stopped";
  const unsigned long drops = q->drops;
  // The count travels with the next datagram queued after the drops.
  while ((q = queue_state(port)) && q->queued != 0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_TRUE(q && q->queued == 0) << "the receiver did not empty its queue";
  send_to(port, frame);
  EXPECT_EQ(r.wait_exit(), 0) << r.seen();
  EXPECT_NE(r.err().find(", " + std::to_string(drops) + " lost to a full receive queue"),
            std::string::npos)
      << "the system dropped " << drops << "; " << r.err();
}

}  // namespace
