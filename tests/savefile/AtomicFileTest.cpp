// Saving a report where the name is not a plain file: a pipe or a device given as the
// output (/dev/stdout, /dev/null, a FIFO) is written into, never replaced by a file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "control/TempDir.h"
#include "savefile/AtomicFile.h"

namespace {

TEST(AtomicFile, APipeGivenAsTheOutputIsWrittenIntoAndStaysAPipe) {
  TempDir dir;
  const std::string fifo = dir.File("out.fifo"), link = dir.File("stdout");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::symlink(fifo.c_str(), link.c_str()), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  std::string error;
  // Straight at the pipe, and through a link to it as /dev/stdout is.
  EXPECT_TRUE(savefile::AtomicFile::Write(fifo, "one\n", error)) << error;
  EXPECT_TRUE(savefile::AtomicFile::Write(link, "two\n", error)) << error;
  char buf[64] = {};
  const ssize_t n = ::read(reader, buf, sizeof buf - 1);
  ::close(reader);
  EXPECT_EQ(std::string(buf, n > 0 ? size_t(n) : 0), "one\ntwo\n");
  struct stat st {};
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

// Only the pipe itself is written, so its folder need not be writable (/dev is not, for
// anyone but root).
TEST(AtomicFile, APipeInAFolderNobodyMayWriteCanBeWritten) {
  TempDir dir;
  const std::string fifo = dir.File("out.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::chmod(fifo.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
  const auto canWrite = [&] {
    std::string error;
    return savefile::AtomicFile::CanWrite(fifo, error);
  };
  bool writable = false;
  if (::geteuid() != 0) {
    writable = canWrite();
  } else {  // root may write anywhere: the check runs as an ordinary user
    const pid_t child = ::fork();
    if (child == 0) ::_exit(::setgid(65534) == 0 && ::setuid(65534) == 0 && canWrite() ? 0 : 1);
    int status = -1;
    writable = ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
  }
  ::chmod(dir.Path().c_str(), 0755);
  EXPECT_TRUE(writable);
}

}  // namespace
