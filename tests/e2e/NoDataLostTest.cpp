// Nothing already logged or configured is lost: a logging process killed outright
// leaves whole lines, a settings writer killed outright leaves a whole ZUZIvor.ini with
// the user's own lines, and a file that refuses writes is reported.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "common/SimProcess.h"
#include "control/CProfileFile.h"
#include "control/CSettingsRecord.h"
#include "views/CCsvLog.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class TempFolder {
 public:
  TempFolder() {
    char tmpl[] = "/tmp/vt-noloss-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs body in a child process and returns its pid; the child never returns.
template <typename Fn>
pid_t Spawn(Fn body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    body();
    ::_exit(0);
  }
  return pid;
}

void Kill(pid_t pid) {
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
}

TEST(NoDataLost, CsvLogKilledMidStreamKeepsEveryWrittenLineWhole) {
  TempFolder dir;
  const std::string path = dir.File("wave.csv");
  const std::string header = "Time,X,Ch1,Ch2,Ch3,Ch4,Ch5,Ch6,Ch7,Ch8";
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // The last round's file would satisfy the wait below before the child truncates it.
    std::filesystem::remove(path);
    // The child logs as a view does: each line written and flushed by the log writer.
    pid_t child = Spawn([&] {
      CCsvLog log;
      if (!log.Open(path, true) || !log.WriteLine("") || !log.WriteLine(header)) ::_exit(2);
      for (int i = 0; i < 2000000; ++i) {
        std::string line = CCsvLog::FormatTime(i) + "," + std::to_string(i);
        for (int k = 0; k < 8; ++k) line += "," + std::to_string(1000 + (i + k) % 97);
        if (!log.WriteLine(line)) ::_exit(3);
      }
    });
    ASSERT_GT(child, 0);
    // Killed at a different point each round, once some lines are on disk.
    const size_t minBytes = 20000u * (round + 1);
    ASSERT_TRUE(WaitUntil([&] {
      std::error_code ec;
      const auto size = std::filesystem::file_size(path, ec);
      return !ec && size > minBytes;
    }));
    Kill(child);

    const std::string text = ReadAll(path);
    ASSERT_GE(text.size(), minBytes);
    // Ends with a complete line; every line is complete and in order.
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    std::istringstream lines(text);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "\r");
    std::getline(lines, line);
    EXPECT_EQ(line, header + "\r");
    int expected = 0;
    while (std::getline(lines, line)) {
      ASSERT_FALSE(line.empty());
      ASSERT_EQ(line.back(), '\r') << "line " << expected;
      std::istringstream fields(line.substr(0, line.size() - 1));
      std::string field;
      int count = 0;
      std::getline(fields, field, ',');
      ASSERT_EQ(field, CCsvLog::FormatTime(expected));
      ++count;
      std::getline(fields, field, ',');
      ASSERT_EQ(field, std::to_string(expected));
      while (std::getline(fields, field, ',')) ++count;
      ASSERT_EQ(count, 9) << "line " << expected;
      ++expected;
    }
    EXPECT_GT(expected, 100);
  }
}

TEST(NoDataLost, SettingsWriterKilledAtAnyMomentLeavesAWholeFile) {
  TempFolder dir;
  const std::string path = dir.File(CSettingsRecord::kFileName);
  const std::string userLines =
      "; site settings, kept by every save\r\n"
      "[SETTING]\r\n"
      "Site=Lab 3\r\n"
      "X_Count=38\r\n"
      "[CUSTOM]\r\n"
      "Owner=line 7\r\n";
  { std::ofstream(path, std::ios::binary) << userLines; }
  std::mt19937 rng(7);
  int kills = 0;
  for (int round = 0; round < 25; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    int progress[2];
    ASSERT_EQ(::pipe(progress), 0);
    pid_t child = Spawn([&] {
      ::close(progress[0]);
      for (int i = 1;; ++i) {
        CSettingsRecord r;
        r.SetFilePath(path);
        r.LoadSettings(path, nullptr);
        r.xCount = i % 200 + 1;
        r.startup.WaveWindow = i % 2;
        if (!r.SaveSettings() || !r.WriteStartup()) ::_exit(4);
        char c = 1;
        if (::write(progress[1], &c, 1) != 1) ::_exit(5);
      }
    });
    ::close(progress[1]);
    // Some saves go through, then the child dies somewhere inside a later one.
    const int saves = 1 + int(rng() % 4);
    char c;
    for (int i = 0; i < saves; ++i) ASSERT_EQ(::read(progress[0], &c, 1), 1);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 3000));
    Kill(child);
    ::close(progress[0]);
    ++kills;

    const std::string text = ReadAll(path);
    ASSERT_EQ(text.rfind("; site settings, kept by every save\r\n[SETTING]\r\nSite=Lab 3\r\n", 0),
              0u)
        << text;
    EXPECT_NE(text.find("[CUSTOM]\r\nOwner=line 7\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[STARTUP]\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("LotAnalyzerWindow="), std::string::npos) << text;
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    const CProfileFile f = CProfileFile::Parse(text);
    const int x = f.GetInt("SETTING", "X_Count", 0);
    EXPECT_TRUE(x >= 1 && x <= 200) << x;
  }
  EXPECT_EQ(kills, 25);
}

TEST(NoDataLost, FilesThatRefuseWritesAreReported) {
  // A full disk: the device takes the open but no byte.
  CCsvLog log;
  ASSERT_TRUE(log.Open("/dev/full", true));
  EXPECT_FALSE(log.WriteLine("Time,X1,Y1"));

  // A log whose disk fills up part way: the failing line is reported, the lines before it
  // stay whole. The size limit is set in a child so this process keeps its own.
  TempFolder dir;
  const std::string path = dir.File("xy.csv");
  pid_t child = Spawn([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = {4096, 4096};
    ::setrlimit(RLIMIT_FSIZE, &small);
    CCsvLog l;
    if (!l.Open(path, true)) ::_exit(2);
    for (int i = 0; i < 10000; ++i) {
      if (!l.WriteLine("0001.000," + std::to_string(i) + ",200,0")) ::_exit(10);  // reported
    }
    ::_exit(0);
  });
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 10);
  const std::string text = ReadAll(path);
  ASSERT_FALSE(text.empty());
  EXPECT_LE(text.size(), 4096u);

  // Settings that cannot be written: false, a reason, and the old file as it was.
  const std::string ini = dir.File(CSettingsRecord::kFileName);
  { std::ofstream(ini, std::ios::binary) << "[SETTING]\r\nX_Count=40\r\n"; }
  child = Spawn([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tiny = {16, 16};
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    CSettingsRecord r;
    r.SetFilePath(ini);
    r.LoadSettings(ini, nullptr);
    const bool saved = r.SaveSettings();
    const bool startup = r.WriteStartup();
    ::_exit(!saved && !startup && !r.LastError().empty() ? 0 : 1);
  });
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadAll(ini), "[SETTING]\r\nX_Count=40\r\n");
}

}  // namespace
