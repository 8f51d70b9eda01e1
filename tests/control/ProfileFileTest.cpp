#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <random>

#include "TempDir.h"
#include "control/CProfileFile.h"

namespace {

TEST(ProfileFile, ReadsIntegersFromLeadingDigits) {
  const auto f = CProfileFile::Parse(
      "; X_Count=99\n"
      "[Setting]\n"
      "  x_count = 40abc\n"
      "Y_Count=\n"
      "Z=-7\n"
      "Big=99999999999999\n"
      "Neg=-99999999999999\n"
      "Word=abc\n"
      "X_COUNT=41\n"
      "[setting]\n"
      "Other=5\n");
  EXPECT_EQ(f.GetInt("SETTING", "X_Count", 1), 40);   // first key of the first section wins
  EXPECT_EQ(f.GetInt("SETTING", "Y_Count", 22), 22);  // empty value
  EXPECT_EQ(f.GetInt("SETTING", "Word", 3), 3);       // no digits
  EXPECT_EQ(f.GetInt("SETTING", "Z", 0), -7);
  EXPECT_EQ(f.GetInt("SETTING", "Big", 0), INT_MAX);
  EXPECT_EQ(f.GetInt("SETTING", "Neg", 0), INT_MIN);
  EXPECT_EQ(f.GetInt("SETTING", "Other", 8), 8);  // only the first matching section is read
  EXPECT_EQ(f.GetInt("NOPE", "X_Count", 12), 12);
  EXPECT_EQ(f.GetString("setting", "X_COUNT").value_or(""), "40abc");
  EXPECT_FALSE(f.GetString("SETTING", "; X_Count").has_value());
}

TEST(ProfileFile, ParseThenTextGivesBackAnyBytes) {
  std::mt19937 rng(7);
  const std::string alphabet("[]=;# \t\r\n\0ab1-\xff", 15);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int len = static_cast<int>(rng() % 200);
    for (int i = 0; i < len; ++i) text += alphabet[rng() % alphabet.size()];
    auto f = CProfileFile::Parse(text);
    ASSERT_EQ(f.Text(), text);
    f.SetInt("a", "b", 5);
    f.SetString("[x", "=y", "v\r\nw");
    const auto g = CProfileFile::Parse(f.Text());
    EXPECT_EQ(g.GetInt("a", "b", 0), 5) << "round " << round;
  }
}

TEST(ProfileFile, ChangingKeysKeepsEverythingElseCrlf) {
  const std::string before =
      "; written by another tool\r\n"
      "[HID]\r\n"
      "VID1=1234\r\n"
      "\r\n"
      "[SETTING]\r\n"
      "usb_com = 0 ; old\r\n"
      "Custom=abc\r\n"
      "; trailing comment\r\n"
      "\r\n"
      "[Other]\r\n"
      "X=1\r\n";
  auto f = CProfileFile::Parse(before);
  f.SetInt("SETTING", "Usb_Com", 1);
  f.SetInt("SETTING", "PortNum", 3);
  f.SetInt("NEW", "Key", 9);
  EXPECT_EQ(f.Text(),
            "; written by another tool\r\n"
            "[HID]\r\n"
            "VID1=1234\r\n"
            "\r\n"
            "[SETTING]\r\n"
            "usb_com = 1\r\n"
            "Custom=abc\r\n"
            "PortNum=3\r\n"
            "; trailing comment\r\n"
            "\r\n"
            "[Other]\r\n"
            "X=1\r\n"
            "[NEW]\r\n"
            "Key=9\r\n");
}

TEST(ProfileFile, NewLinesFollowLfAndMissingFinalLineEnd) {
  auto f = CProfileFile::Parse("[A]\nk=1");
  f.SetInt("A", "j", 2);
  f.SetInt("B", "m", 3);
  EXPECT_EQ(f.Text(), "[A]\nk=1\nj=2\n[B]\nm=3");

  CProfileFile empty;
  empty.SetInt("S", "k", 1);
  EXPECT_EQ(empty.Text(), "[S]\nk=1\n");
}

TEST(ProfileFile, SaveReplacesTheFileAndKeepsLinks) {
  TempDir dir;
  const std::string real = dir.File("real.ini");
  const std::string link = dir.File("link.ini");
  TempDir::Write(real, "[A]\nk=1\n");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);

  CProfileFile f;
  ASSERT_TRUE(f.Load(link));
  f.SetInt("A", "k", 2);
  std::string error;
  ASSERT_TRUE(f.Save(link, &error)) << error;
  EXPECT_EQ(TempDir::Read(real), "[A]\nk=2\n");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(dir.EntryCount(), 2u);  // no temporary file left

  CProfileFile missing;
  EXPECT_TRUE(missing.Load(dir.File("none.ini")));
  EXPECT_EQ(missing.Text(), "");
}

TEST(ProfileFile, FailedWriteLeavesTheOldFile) {
  TempDir dir;
  const std::string path = dir.File("ZUZIvor.ini");
  const std::string old = "[SETTING]\nX_Count=38\n";
  TempDir::Write(path, old);
  auto f = CProfileFile::Parse(old);
  f.SetString("SETTING", "Long", std::string(4096, '7'));

  // A file size limit makes the write fail part way, whoever runs the test.
  struct rlimit saved;
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  std::string error;
  const bool ok = f.Save(path, &error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(ok);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(TempDir::Read(path), old);
  EXPECT_EQ(dir.EntryCount(), 1u);

  // A file made read-only is not replaced (root may write anything).
  if (::geteuid() != 0) {
    ::chmod(path.c_str(), 0444);
    EXPECT_FALSE(f.Save(path, &error));
    EXPECT_EQ(TempDir::Read(path), old);
  }

  // A folder that does not exist.
  error.clear();
  EXPECT_FALSE(f.Save(dir.File("no/such/dir.ini"), &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
