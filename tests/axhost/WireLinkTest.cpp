// axhost against axdrive over a wire: the same commissioning as in process
// through TCP, a pseudo-terminal and a faulty link; a silent drive, a lost
// one, and an axis another host holds.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>

#include "support/HostRunner.h"
#include "drivewire/WireLink.h"

namespace {

using testing_support::ReadFile;
using testing_support::RunAxhost;
namespace fs = std::filesystem;

// axdrive serve ARGS as a child process; Spec() is what it printed to listen on.
class Server {
 public:
  Server(const std::string& arguments, const fs::path& scratch)
      : m_out(scratch / ("axdrive" + std::to_string(++s_count) + ".out")) {
    m_pid = ::fork();
    if (m_pid == 0) {
      const int fd = ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      ::execl("/bin/sh", "sh", "-c", ("exec '" + std::string(AX_DRIVE_PATH) + "' serve " + arguments).c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const std::regex listening("listening on ((tcp|serial):[^\n]+)\n");
    for (int k = 0; k < 200 && m_spec.empty(); ++k) {
      std::smatch match;
      const std::string text = ReadFile(m_out);
      if (std::regex_search(text, match, listening)) m_spec = match[1];
      else ::usleep(10000);
    }
  }
  ~Server() { Kill(SIGKILL); }
  const std::string& Spec() const { return m_spec; }
  // The exit status after `signal`, -1 when it did not exit by itself.
  int Kill(int signal) {
    if (m_pid <= 0) return -1;
    ::kill(m_pid, signal);
    int raw = 0;
    ::waitpid(m_pid, &raw, 0);
    m_pid = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  std::string Output() const { return ReadFile(m_out); }

 private:
  static inline int s_count = 0;
  fs::path m_out;
  pid_t m_pid = -1;
  std::string m_spec;
};

// summary.json without what differs from run to run by nature: the times,
// the output's name and the drive's.
std::string Comparable(const fs::path& summary) {
  static const std::regex vary("\"(started|finished|duration_s|time_s|output|drive_name)\": [^\n]*\n");
  return std::regex_replace(ReadFile(summary), vary, "");
}

class WireLink : public ::testing::Test {
 protected:
  testing_support::TempDir dir{"axtest-wire"};
};

TEST_F(WireLink, CommissionsOverEachLinkAsInProcess) {
  const fs::path d = dir.path();
  const auto reference = RunAxhost("commission -o '" + (d / "in.json").string() + "' --report '" + (d / "rin").string() + "'", d);
  ASSERT_EQ(reference.status, 0) << reference.err;
  struct Case {
    const char* what;
    const char* serve;
    const char* link;
    bool retries;
  };
  const Case cases[] = {
      {"TCP in lockstep", "--listen tcp:127.0.0.1:0", "", false},
      {"a pseudo-terminal as the serial line", "--listen pty", "", false},
      // Four sends in ten lose a frame either way: eight tries make a
      // request that never gets through about one in thirty million.
      {"5 % of the frames dropped, 1 % damaged, both ways", "--listen tcp:127.0.0.1:0 --faults drop=0.05,corrupt=0.01",
       "--link-timeout 10 --link-tries 8", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Server server(c.serve, d);
    ASSERT_FALSE(server.Spec().empty()) << server.Output();
    const auto run = RunAxhost(std::string(c.link) + " --verbose --drive " + server.Spec() + " commission -o '" +
                                   (d / "wire.json").string() + "' --report '" + (d / "rwire").string() + "'",
                               d);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadFile(d / "wire.json"), ReadFile(d / "in.json"));
    EXPECT_EQ(Comparable(d / "rwire" / "summary.json"), Comparable(d / "rin" / "summary.json"));
    const std::regex counts("(\\d+) requests, (\\d+) sent again");
    std::smatch match;
    ASSERT_TRUE(std::regex_search(run.err, match, counts)) << run.err;
    EXPECT_GT(std::stoi(match[1]), 1000);
    EXPECT_EQ(std::stoi(match[2]) > 0, c.retries) << run.err;
    EXPECT_EQ(server.Kill(SIGTERM), 0);
    EXPECT_NE(server.Output().find("stopped, power stages off"), std::string::npos);
  }
}

TEST_F(WireLink, TwoAxesOfOneServerCommissionedAtOnceGiveWhatEachGivesAlone) {
  const fs::path d = dir.path();
  const std::string plants[] = {std::string(AX_EXAMPLES_DIR) + "/plant-linear.json",
                                std::string(AX_EXAMPLES_DIR) + "/plant-heavy.json"};
  Server server("--plant '" + plants[0] + "' --plant '" + plants[1] + "' --listen tcp:127.0.0.1:0", d);
  ASSERT_FALSE(server.Spec().empty());
  auto commission = [&](const std::string& drive, const std::string& name) {
    return RunAxhost("--drive " + drive + " commission -o '" + (d / (name + ".json")).string() + "' --report '" +
                         (d / name).string() + "'",
                     d);
  };
  testing_support::HostRun wire[2];
  std::thread second([&] { wire[1] = commission(server.Spec() + "/2", "wire2"); });
  wire[0] = commission(server.Spec() + "/1", "wire1");
  second.join();
  for (int axis = 0; axis < 2; ++axis) {
    SCOPED_TRACE(plants[axis]);
    const auto alone = commission("virtual:'" + plants[axis] + "'", "alone" + std::to_string(axis + 1));
    EXPECT_EQ(wire[axis].status, alone.status) << wire[axis].err;
    const std::string n = std::to_string(axis + 1);
    EXPECT_EQ(ReadFile(d / ("wire" + n + ".json")), ReadFile(d / ("alone" + n + ".json")));
    EXPECT_EQ(Comparable(d / ("wire" + n) / "summary.json"), Comparable(d / ("alone" + n) / "summary.json"));
  }
}

TEST_F(WireLink, ASilentDriveIsNamedWithTheTriesAndTheTimeWaited) {
  Server server("--listen tcp:127.0.0.1:0 --faults cut-after=0s", dir.path());
  ASSERT_FALSE(server.Spec().empty());
  const auto start = std::chrono::steady_clock::now();
  const auto run = RunAxhost("--drive " + server.Spec() + " drive run VDC_Detection_Test", dir.path());
  const double waited_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "error: the drive at " + server.Spec() + " does not answer: 3 tries in 600 ms\n");
  EXPECT_GT(waited_s, 0.59);
  EXPECT_LT(waited_s, 2.0);
}

TEST_F(WireLink, ADriveLostInATestEndsItAtOnceAndKeepsTheSetup) {
  const fs::path d = dir.path();
  const fs::path setup = d / "setup.json";
  const auto created = RunAxhost("new", d);
  ASSERT_EQ(created.status, 0);
  std::ofstream(setup) << created.out;
  const std::string before = ReadFile(setup);
  // In real time the resistance test takes seconds of drive time: the
  // drive goes in the middle of it.
  auto server = std::make_unique<Server>("--listen tcp:127.0.0.1:0 --clock realtime", d);
  const std::string spec = server->Spec();
  ASSERT_FALSE(spec.empty());
  std::chrono::steady_clock::time_point killed;
  std::thread killer([&] {
    ::usleep(700000);
    killed = std::chrono::steady_clock::now();
    server->Kill(SIGKILL);
  });
  const auto run = RunAxhost("--drive " + spec + " test resistance-inductance '" + setup.string() + "' -o '" +
                                 setup.string() + "'",
                             d);
  const auto ended = std::chrono::steady_clock::now();
  killer.join();
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the link to the drive at " + spec + " is lost"), std::string::npos) << run.err;
  EXPECT_LT(std::chrono::duration<double>(ended - killed).count(), 1.0);
  EXPECT_EQ(ReadFile(setup), before);

  // A drive started again answers the next command, its power stage off.
  Server again("--listen " + spec, d);
  ASSERT_EQ(again.Spec(), spec) << again.Output();
  const auto next = RunAxhost("--drive " + spec + " drive run VDC_Detection_Test", d);
  EXPECT_EQ(next.status, 0) << next.err;
}

TEST_F(WireLink, OneHostAtATimeControlsAnAxis) {
  const fs::path d = dir.path();
  const std::string plant = std::string(AX_EXAMPLES_DIR) + "/plant-linear.json";
  Server server("--plant '" + plant + "' --plant '" + plant + "' --listen tcp:127.0.0.1:0", d);
  ASSERT_FALSE(server.Spec().empty());
  std::string error;
  auto holder = drivewire::WireLink::Connect(server.Spec() + "/2", {}, error);
  ASSERT_NE(holder, nullptr) << error;
  const auto second = RunAxhost("--drive " + server.Spec() + "/2 drive run VDC_Detection_Test", d);
  EXPECT_EQ(second.status, 1);
  EXPECT_EQ(second.err, "error: axis 2 is in use by another host\n");
  // The other axis of the bus is free, and runs a program as the drive in
  // process does, down to the variables it wrote.
  const std::string program = " drive run Ident_R_or_Rs RefTest=8800 RIncTest=20 In1=4910";
  const auto first = RunAxhost("--drive " + server.Spec() + "/1" + program, d);
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(first.out, RunAxhost(program, d).out);
  holder.reset();
  ::usleep(50000);
  EXPECT_EQ(RunAxhost("--drive " + server.Spec() + "/2 drive run VDC_Detection_Test", d).status, 0);
}

}  // namespace
