// The installed tree: `cmake --install` into a scratch DESTDIR, then the installed programs
// and library run from there, as a packaged copy would.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {
std::string gRoot;  // the scratch DESTDIR
}  // namespace

// The shared harness starts the installed simulator.
static const char* InstalledTpcsim() {
  static std::string path;
  path = gRoot + VT_BINDIR "/tpcsim";
  return path.c_str();
}
#define TPCSIM_PATH InstalledTpcsim()
#include "common/SimProcess.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int status = -1;
  std::string out;  // stdout and stderr
};

Result Shell(const std::string& command) {
  Result r;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

std::string Installed(const std::string& path) {
  return gRoot + path;
}
std::string Bin(const std::string& name) {
  return Installed(VT_BINDIR "/" + name);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Programs() {
  std::vector<std::string> out;
  std::stringstream list(VT_PROGRAM_NAMES);
  for (std::string p; std::getline(list, p, ',');) out.push_back(p);
  return out;
}

class InstallTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char tmpl[] = "/tmp/vt-install-XXXXXX";
    const char* made = ::mkdtemp(tmpl);
    gRoot = made != nullptr ? made : "";
    ::chmod(gRoot.c_str(), 0755);  // an unprivileged user runs the programs below
    install_ = Shell("DESTDIR=" + gRoot + " '" VT_CMAKE "' --install '" VT_BINARY_DIR "'");
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    fs::remove_all(gRoot, ec);
  }
  void SetUp() override { ASSERT_EQ(install_.status, 0) << install_.out; }

  static Result install_;
};
Result InstallTest::install_;

TEST_F(InstallTest, EveryPartLandsInItsFolder) {
  for (const std::string& p : Programs()) EXPECT_TRUE(fs::exists(Bin(p))) << p;
  const std::vector<std::string> files = {
      VT_LIBDIR "/libhidpipe.so.1",
      VT_LIBDIR "/libhidpipe.so",
      VT_LIBDIR "/pkgconfig/hidpipe.pc",
      VT_INCLUDEDIR "/hidpipe.h",
      VT_INCLUDEDIR "/hidpipe_diag.h",
      VT_DATADIR "/vantrel/HelpFile.txt",
      VT_DATADIR "/applications/org.vantrel.VantrelTool.desktop",
      VT_DATADIR "/applications/org.vantrel.Lumora.desktop",
      VT_DATADIR "/icons/hicolor/scalable/apps/org.vantrel.VantrelTool.svg",
      VT_DATADIR "/icons/hicolor/scalable/apps/org.vantrel.Lumora.svg",
      VT_DATADIR "/metainfo/org.vantrel.VantrelTool.metainfo.xml",
      VT_DATADIR "/metainfo/org.vantrel.Lumora.metainfo.xml",
  };
  for (const std::string& f : files) EXPECT_TRUE(fs::exists(Installed(f))) << f;
  // The udev rule lands where udev reads rules, not under the prefix.
  std::string udevdir = Shell("pkg-config --variable=udevdir udev 2>/dev/null || true").out;
  while (!udevdir.empty() && udevdir.back() == '\n') udevdir.pop_back();
  if (udevdir.empty()) udevdir = "/usr/lib/udev";
  EXPECT_TRUE(fs::exists(Installed(udevdir + "/rules.d/70-touch-controller.rules")))
      << "the udev rule is not in " << udevdir << "/rules.d";
  if (VT_MANPAGES) {
    for (const std::string& p : Programs())
      EXPECT_TRUE(fs::exists(Installed(VT_MANDIR "/man1/" + p + ".1.gz"))) << p;
  }
  // The pkg-config file points other tools at the installed header and library.
  const std::string pc = ReadFile(Installed(VT_LIBDIR "/pkgconfig/hidpipe.pc"));
  EXPECT_NE(pc.find("libdir=" VT_LIBDIR), std::string::npos) << pc;
  EXPECT_NE(pc.find("-lhidpipe"), std::string::npos) << pc;
}

TEST_F(InstallTest, ProgramsFindTheInstalledLibraryByItsSoname) {
  const Result soname = Shell("readelf -d '" + Installed(VT_LIBDIR "/libhidpipe.so.1") + "'");
  EXPECT_NE(soname.out.find("Library soname: [libhidpipe.so.1]"), std::string::npos) << soname.out;
  // Relative to the program, never into the build tree.
  const Result dyn = Shell("readelf -d '" + Bin("VantrelTool") + "'");
  EXPECT_NE(dyn.out.find("[$ORIGIN/"), std::string::npos) << dyn.out;
  EXPECT_EQ(dyn.out.find(VT_BINARY_DIR), std::string::npos) << dyn.out;
  const Result ldd = Shell("ldd '" + Bin("VantrelTool") + "'");
  const std::string mark = "libhidpipe.so.1 => ";
  const size_t at = ldd.out.find(mark);
  ASSERT_NE(at, std::string::npos) << ldd.out;
  const size_t from = at + mark.size();
  const std::string found = ldd.out.substr(from, ldd.out.find(' ', from) - from);
  std::error_code ec;
  EXPECT_TRUE(fs::equivalent(found, Installed(VT_LIBDIR "/libhidpipe.so.1"), ec)) << ldd.out;
}

// The library exports the calls its installed headers declare, each of them, and nothing
// else; a C program builds against the headers through the pkg-config file alone.
TEST_F(InstallTest, TheLibraryExportsExactlyThePublicCalls) {
  const std::string include = Installed(VT_INCLUDEDIR);
  const Result declared = Shell("cat '" + include + "/hidpipe.h' '" + include +
                                "/hidpipe_diag.h' | grep -o '\\bhid[A-Za-z]*(' | tr -d '(' | "
                                "grep -v '^hidpipe' | sort -u");
  const Result exported = Shell("nm -D --defined-only '" + Installed(VT_LIBDIR "/libhidpipe.so.1") +
                                "' | awk '{print $3}' | sort -u");
  ASSERT_EQ(declared.status, 0) << declared.out;
  ASSERT_EQ(exported.status, 0) << exported.out;
  EXPECT_NE(declared.out.find("hidListDevices\n"), std::string::npos) << declared.out;
  EXPECT_EQ(exported.out, declared.out);

  const std::string source = gRoot + "/use.c";
  std::ofstream(source) << "#include <hidpipe_diag.h>\n"
                           "int main(void) {\n"
                           "  const HidDescriptorAnalysis* a = hidAnalyseDescriptor(0, 0);\n"
                           "  int ok = a != 0 && !a->usable && hidListDevices(0, 0) >= 0;\n"
                           "  hidFreeDescriptorAnalysis(a);\n"
                           "  return ok ? 0 : 1;\n"
                           "}\n";
  const std::string pc = "PKG_CONFIG_PATH='" + Installed(VT_LIBDIR "/pkgconfig") +
                         "' PKG_CONFIG_SYSROOT_DIR='" + gRoot + "' ";
  const Result built = Shell(VT_CC " -std=c99 -Wall -Werror -o '" + gRoot + "/use' '" + source + "' $(" +
                             pc + "pkg-config --cflags --libs hidpipe)");
  EXPECT_EQ(built.status, 0) << built.out;
}

TEST_F(InstallTest, InstalledProgramsTellTheirVersion) {
  const Result tool = Shell("'" + Bin("VantrelTool") + "' --version");
  EXPECT_EQ(tool.status, 0);
  EXPECT_EQ(tool.out, "VantrelTool " VT_PRODUCT_VERSION "\n");
  const Result sim = Shell("'" + Bin("tpcsim") + "' --version");
  EXPECT_EQ(sim.status, 0);
  EXPECT_EQ(sim.out, "tpcsim " VT_VERSION "\n");
}

TEST_F(InstallTest, InstalledLibraryTalksToInstalledSimulator) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb"})) << "installed tpcsim did not start";
  ::setenv("HIDPIPE_SIM", sim.Socket().c_str(), 1);
  void* lib = ::dlopen(Installed(VT_LIBDIR "/libhidpipe.so.1").c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << ::dlerror();
  using OpenFn = int (*)(void*);
  using OpenDevFn = int (*)(uint32_t, uint32_t, uint32_t);
  using IntFn = int (*)(int);
  using RecvFn = int (*)(uint8_t*, int);
  using SendFn = int (*)(const uint8_t*);
  using VoidFn = int (*)();
  auto open = reinterpret_cast<OpenFn>(::dlsym(lib, "hidOpen"));
  auto openDev = reinterpret_cast<OpenDevFn>(::dlsym(lib, "hidOpenMyDevice"));
  auto enable = reinterpret_cast<IntFn>(::dlsym(lib, "hidEnableRecv"));
  auto recv = reinterpret_cast<RecvFn>(::dlsym(lib, "hidRecv"));
  auto send = reinterpret_cast<SendFn>(::dlsym(lib, "hidSend"));
  auto closeDev = reinterpret_cast<VoidFn>(::dlsym(lib, "hidCloseMyDevice"));
  auto close = reinterpret_cast<VoidFn>(::dlsym(lib, "hidClose"));
  ASSERT_TRUE(open && openDev && enable && recv && send && closeDev && close);

  ASSERT_NE(open(nullptr), 0);
  ASSERT_NE(openDev(0x227D, 0x0102, 1), 0);
  enable(1);
  const uint8_t getVersion[64] = {0x02, 0x4C, 0x02, 0x04, 0x00};
  ASSERT_NE(send(getVersion), 0);
  uint8_t in[64] = {};
  const bool answered =
      WaitUntil([&] { return recv(in, 50) != 0 && in[1] == 0x4C && in[3] == 0x04; });
  closeDev();
  close();
  ::dlclose(lib);
  ::unsetenv("HIDPIPE_SIM");
  ASSERT_TRUE(answered) << sim.TraceTail();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(in) + 4, in[2] - 1), "TPCSIM 1.0.0");
}

// An installed copy cannot write beside itself: its settings go to ~/.config/vantrel/, and
// its help file comes from the installed data folder (the screenshot run fails without it).
TEST_F(InstallTest, ReadOnlyProgramFolderKeepsSettingsUnderUserConfig) {
  const std::string home = gRoot + "/home";
  const std::string shots = gRoot + "/shots";
  fs::create_directories(home);
  fs::create_directories(shots);
  const std::string binDir = Installed(VT_BINDIR);
  std::string asUser;
  if (::geteuid() == 0) {
    // Root writes anywhere: run as nobody, for whom the program folder is read-only.
    if (Shell("command -v setpriv").status != 0) GTEST_SKIP() << "root without setpriv";
    for (const std::string& d : {home, shots}) ASSERT_EQ(::chown(d.c_str(), 65534, 65534), 0);
    asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  } else {
    ASSERT_EQ(::chmod(binDir.c_str(), 0555), 0);
  }
  const std::string env = "env -u XDG_CONFIG_HOME -u XDG_RUNTIME_DIR HOME=" + home +
                          " QT_QPA_PLATFORM=offscreen HIDPIPE_SIM=" + gRoot +
                          "/no-controller.sock " + asUser + "'" + Bin("VantrelTool") + "'";
  const std::string ini = home + "/.config/vantrel/ZUZIvor.ini";
  const Result help = Shell(env + " --help");
  const Result run = Shell(env + " --screenshot " + shots);
  ::chmod(binDir.c_str(), 0755);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(help.out.find("Settings file in use: " + ini + "\n"), std::string::npos) << help.out;
  EXPECT_FALSE(fs::exists(binDir + "/ZUZIvor.ini"));
  ASSERT_TRUE(fs::exists(ini)) << run.out;
  EXPECT_NE(ReadFile(ini).find("[STARTUP]"), std::string::npos) << ReadFile(ini);
}

}  // namespace
