// What we ship gives away nothing: the device rule grants the seat's user only, the
// simulator keeps its sockets in a folder of the user's own, and neither the simulator
// nor a program talking to it opens a network socket.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "common/SimProcess.h"
#include "hidpipe/hidpipe.h"

namespace {

// Socket inodes among a process's open files.
std::set<std::string> SocketInodes(pid_t pid) {
  std::set<std::string> out;
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      char target[256] = {};
      const std::string fd = dir + "/" + e->d_name;
      if (::readlink(fd.c_str(), target, sizeof target - 1) <= 0) continue;
      const std::string t = target;
      if (t.rfind("socket:[", 0) == 0) out.insert(t.substr(8, t.size() - 9));
    }
    ::closedir(d);
  }
  return out;
}

// Inodes of the process's sockets in one /proc/<pid>/net table.
std::set<std::string> TableInodes(pid_t pid, const std::string& table, size_t inodeColumn) {
  std::set<std::string> out;
  std::ifstream in("/proc/" + std::to_string(pid) + "/net/" + table);
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::istringstream cols(line);
    std::string col;
    for (size_t i = 0; i <= inodeColumn && cols >> col; ++i) {
    }
    if (!col.empty()) out.insert(col);
  }
  return out;
}

// Every socket of the process is a Unix (or kernel netlink) socket, none an internet one.
void ExpectOnlyUnixSockets(pid_t pid) {
  const auto sockets = SocketInodes(pid);
  ASSERT_FALSE(sockets.empty());
  const auto unixSockets = TableInodes(pid, "unix", 6);
  const auto netlink = TableInodes(pid, "netlink", 9);  // device notices from the kernel
  for (const char* table : {"tcp", "tcp6", "udp", "udp6", "raw", "raw6"}) {
    const auto inet = TableInodes(pid, table, 9);
    for (const auto& s : sockets) EXPECT_EQ(inet.count(s), 0u) << table << " socket " << s;
  }
  for (const auto& s : sockets) {
    EXPECT_EQ(unixSockets.count(s) + netlink.count(s), 1u) << "socket " << s;
  }
}

TEST(Security, DeviceRuleGrantsTheSeatUserOnly) {
  std::ifstream in(VT_SOURCE_DIR "/scripts/70-touch-controller.rules");
  ASSERT_TRUE(in);
  std::string line;
  int rules = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    ++rules;
    EXPECT_NE(line.find("TAG+=\"uaccess\""), std::string::npos) << line;
    EXPECT_EQ(line.find("MODE"), std::string::npos) << line;
    EXPECT_EQ(line.find("GROUP"), std::string::npos) << line;
    EXPECT_EQ(line.find("OWNER"), std::string::npos) << line;
  }
  EXPECT_GE(rules, 1);
}

TEST(Security, SimulatorSocketsLiveInAPrivateFolderAndNothingListensOnTheNetwork) {
  char tmpl[] = "/tmp/vt-xdg-XXXXXX";
  const std::string runtime = ::mkdtemp(tmpl);
  ::chmod(runtime.c_str(), 0755);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--usb=default", "--serial"}));
    const std::string folder = runtime + "/tpcsim";
    const std::string socket = folder + "/tpcsim.sock";
    ASSERT_TRUE(WaitUntil([&] { return ::access(socket.c_str(), F_OK) == 0; }));
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, ::getuid());
    ASSERT_EQ(::stat(socket.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);

    // A client through the HID library, and the simulator serving it.
    ::setenv("HIDPIPE_SIM", socket.c_str(), 1);
    ASSERT_NE(hidOpen(nullptr), 0);
    ASSERT_NE(hidOpenMyDevice(0x227D, 0x0102, 1), 0);
    ExpectOnlyUnixSockets(sim.Pid());
    ExpectOnlyUnixSockets(::getpid());
    hidCloseMyDevice();
    hidClose();
  }
  std::error_code ec;
  std::filesystem::remove_all(runtime, ec);
}

}  // namespace
