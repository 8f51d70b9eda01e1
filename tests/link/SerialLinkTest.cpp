// Serial packet reassembly, the termios port and CTransCOM over a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/CSerialFrameAssembler.h"
#include "link/CTransCOM.h"
#include "link/SerialPortMap.h"

namespace {

using Frame = std::vector<uint8_t>;

// Plays CTransCOM::Read over a list of chunks as they would arrive from the port.
class ChunkReader {
 public:
  explicit ChunkReader(std::vector<std::string> chunks) : chunks_(std::move(chunks)) {}
  // One Read call: 0 when nothing completed.
  int Read(Frame& out) {
    if (!assembler_.HasRaw()) {
      if (next_ == chunks_.size()) return 0;
      const std::string& c = chunks_[next_++];
      std::memcpy(assembler_.RawBuffer(), c.data(), c.size());
      assembler_.SetRawCount(static_cast<int>(c.size()));
    }
    out.assign(CSerialFrameAssembler::kDecodedSize, 0);
    int len = assembler_.Scan(out.data());
    out.resize(static_cast<size_t>(len));
    return len;
  }
  std::vector<Frame> All() {
    std::vector<Frame> frames;
    Frame f;
    while (next_ < chunks_.size() || assembler_.HasRaw()) {
      if (Read(f) > 0) frames.push_back(f);
    }
    return frames;
  }
  size_t ChunksUsed() const { return next_; }

 private:
  std::vector<std::string> chunks_;
  size_t next_ = 0;
  CSerialFrameAssembler assembler_;
};

const std::string kStx = "\x02", kCr = "\r";

TEST(SerialAssembler, FrameAcrossThreeReads) {
  ChunkReader r({kStx + "024C", "0204", "01" + kCr});
  Frame f;
  EXPECT_EQ(r.Read(f), 0);
  EXPECT_EQ(r.Read(f), 0);
  ASSERT_EQ(r.Read(f), 5);
  EXPECT_EQ(f, (Frame{0x02, 0x4C, 0x02, 0x04, 0x01}));
}

TEST(SerialAssembler, SecondFrameComesFromTheCarriedBytes) {
  ChunkReader r({"junk" + kStx + "024e020401" + kCr + "xx" + kStx + "02 4C 02 04 00" + kCr});
  Frame f;
  ASSERT_EQ(r.Read(f), 5);
  EXPECT_EQ(f[1], 0x4E);  // lower case digits
  ASSERT_EQ(r.Read(f), 5);
  EXPECT_EQ(r.ChunksUsed(), 1u);  // no second port read
  EXPECT_EQ(f, (Frame{0x02, 0x4C, 0x02, 0x04, 0x00}));
}

TEST(SerialAssembler, SkippedAndUnpairedDigits) {
  EXPECT_EQ(ChunkReader({kStx + "0G2" + kCr}).All(), std::vector<Frame>{Frame{0x02}});
  EXPECT_EQ(ChunkReader({kStx + "024" + kCr}).All(), std::vector<Frame>{Frame{0x02}});
  EXPECT_EQ(ChunkReader({"0241" + kCr + kStx + "05" + kCr}).All(), std::vector<Frame>{Frame{5}});
}

TEST(SerialAssembler, SplitAtEveryPosition) {
  const std::string stream = "\x7f" + kStx + "024C050610" + kCr + kStx + "0206" + kCr;
  const std::vector<Frame> expected = {{0x02, 0x4C, 0x05, 0x06, 0x10}, {0x02, 0x06}};
  for (size_t a = 0; a <= stream.size(); ++a) {
    for (size_t b = a; b <= stream.size(); ++b) {
      ChunkReader r({stream.substr(0, a), stream.substr(a, b - a), stream.substr(b)});
      ASSERT_EQ(r.All(), expected) << "split at " << a << "," << b;
    }
  }
}

TEST(SerialAssembler, OversizedFrameIsDroppedAndTheNextOneArrives) {
  std::string huge(2 * (CSerialFrameAssembler::kDecodedSize + 10), 'A');
  std::vector<std::string> chunks = {kStx};
  for (size_t i = 0; i < huge.size(); i += 4000) chunks.push_back(huge.substr(i, 4000));
  chunks.push_back(kCr + kStx + "0102" + kCr);
  EXPECT_EQ(ChunkReader(chunks).All(), std::vector<Frame>{Frame({0x01, 0x02})});

  // Exactly the decoded buffer's size still fits.
  std::string exact(2 * CSerialFrameAssembler::kDecodedSize, 'b');
  chunks = {kStx};
  for (size_t i = 0; i < exact.size(); i += 4000) chunks.push_back(exact.substr(i, 4000));
  chunks.push_back(kCr);
  auto frames = ChunkReader(chunks).All();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].size(), size_t(CSerialFrameAssembler::kDecodedSize));
  EXPECT_EQ(frames[0].back(), 0xBB);
}

TEST(SerialAssembler, ReadSizeCapsAFullQueue) {
  EXPECT_EQ(CSerialFrameAssembler::ReadSize(100), 100);
  EXPECT_EQ(CSerialFrameAssembler::ReadSize(4096), 4096);
  EXPECT_EQ(CSerialFrameAssembler::ReadSize(5000), 4088);
}

TEST(SerialPortMap, NumbersPathsAndOverrides) {
  unsetenv("VANTREL_COM_DIR");
  EXPECT_EQ(ComDevicePath(0), "");
  EXPECT_EQ(ComDevicePath(-3), "");
  EXPECT_EQ(ComDevicePath(1), "/dev/ttyUSB0");
  EXPECT_EQ(ComDevicePath(8), "/dev/ttyUSB7");
  EXPECT_EQ(ComDevicePath(9), "/dev/ttyACM0");
  EXPECT_EQ(ComDevicePath(16), "/dev/ttyACM7");
  EXPECT_EQ(ComDevicePath(17), "/dev/ttyS0");
  EXPECT_EQ(ComDevicePath(20), "/dev/ttyS3");
  EXPECT_EQ(ComDevicePath(21), "");

  auto dir = std::filesystem::temp_directory_path() / ("vtcom" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "COM3").put('x');
  setenv("VANTREL_COM_DIR", dir.c_str(), 1);
  EXPECT_EQ(ComDevicePath(3), (dir / "COM3").string());
  EXPECT_EQ(ComDevicePath(4), "/dev/ttyUSB3");  // no such file there
  SerialLineSettings line;
  line.portNum = 3;
  line.devicePath = "/dev/pts/99";
  EXPECT_EQ(ComDevicePath(line), "/dev/pts/99");
  unsetenv("VANTREL_COM_DIR");
  std::filesystem::remove_all(dir);
}

// A pseudo-terminal: the test holds the controller's end, the link opens the other.
class SerialPty : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256] = {};
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    path_ = name;
    fcntl(master_, F_SETFL, O_NONBLOCK);
  }
  void TearDown() override {
    if (slave_ >= 0) close(slave_);
    close(master_);
  }
  // Keeps only the master open so that the link's open is the one user of the device.
  void DropSlave() {
    close(slave_);
    slave_ = -1;
  }
  SerialLineSettings Line() const {
    SerialLineSettings line;
    line.devicePath = path_;
    return line;
  }
  std::string ReadMaster(size_t want) {
    std::string got;
    while (got.size() < want) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) break;
      char buf[512];
      ssize_t n = read(master_, buf, sizeof(buf));
      if (n > 0) got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }
  void WriteMaster(const std::string& s) {
    ASSERT_EQ(write(master_, s.data(), s.size()), ssize_t(s.size()));
  }
  int ReadFrame(CTransCOM& link, uint8_t* buf) {
    for (int i = 0; i < 500; ++i) {
      int len = link.Read(buf);
      if (len > 0) return len;
      link.WaitForInput(10);
    }
    return 0;
  }

  int master_ = -1, slave_ = -1;
  std::string path_;
};

TEST(SerialLine, TermiosRecordForEveryLineSetting) {
  struct Case {
    uint32_t baud;
    uint8_t bits, parity, stop;
    uint32_t wantBaud;
    uint8_t wantStop;
  };
  const Case cases[] = {
      {9600, 7, 2, 0, 9600, 0},   {115200, 8, 1, 2, 115200, 2},
      {19200, 5, 3, 0, 19200, 0}, {38400, 6, 4, 1, 38400, 2},  // one and a half stop bits: two
  };
  for (const auto& c : cases) {
    SerialLineSettings line;
    line.baudRate = c.baud, line.byteSize = c.bits, line.parity = c.parity, line.stopBits = c.stop;
    termios tio{};
    tio.c_lflag = ICANON | ECHO;
    ASSERT_TRUE(CSerialPort::ApplyLineSettings(tio, line)) << c.baud;
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);  // raw
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    SerialLineSettings back;
    CSerialPort::DecodeLineSettings(tio, back);
    EXPECT_EQ(back.baudRate, c.wantBaud);
    EXPECT_EQ(back.byteSize, c.bits);
    EXPECT_EQ(back.parity, c.parity);
    EXPECT_EQ(back.stopBits, c.wantStop);
  }
  termios tio{};
  SerialLineSettings bad;
  for (uint32_t rate : {50000u, 10u, 7200u}) {  // not a rate the port can run at: refused
    bad.baudRate = rate;
    EXPECT_FALSE(CSerialPort::ApplyLineSettings(tio, bad)) << rate;
  }
  bad = SerialLineSettings{};
  bad.byteSize = 4;
  EXPECT_FALSE(CSerialPort::ApplyLineSettings(tio, bad));
  bad = SerialLineSettings{};
  bad.parity = 5;
  EXPECT_FALSE(CSerialPort::ApplyLineSettings(tio, bad));
}

TEST_F(SerialPty, LineSettingsReachThePort) {
  DropSlave();
  CTransCOM link;
  SerialLineSettings line = Line();
  line.baudRate = 115200, line.stopBits = 2;
  ASSERT_EQ(link.Open(&line), 1);
  EXPECT_EQ(link.GetState(), kLinkIdle);
  EXPECT_EQ(link.LineSettings().baudRate, 115200u);  // read back from the device
  EXPECT_EQ(link.LineSettings().stopBits, 2);
  link.Close();
  EXPECT_EQ(link.GetState(), kLinkClosed);
}

TEST_F(SerialPty, RefusedOpens) {
  CTransCOM link;
  EXPECT_EQ(link.Open(nullptr), 0);
  SerialLineSettings line = Line();
  line.portNum = 0;
  EXPECT_EQ(link.Open(&line), 0);
  line = Line();
  line.byteSize = 9;
  EXPECT_EQ(link.Open(&line), 0);
  line = Line();
  line.devicePath = "/nonexistent/tty";
  EXPECT_EQ(link.Open(&line), 0);
  EXPECT_EQ(link.GetState(), kLinkClosed);

  line = Line();
  ASSERT_EQ(link.Open(&line), 1);
  CTransCOM second;  // the port is taken
  EXPECT_EQ(second.Open(&line), 0);
}

// The receive thread waits on the port without limit: input or a wake from another thread
// ends the wait, and a wake given before the wait is not lost.
TEST_F(SerialPty, WaitWithoutLimitEndsOnInputOrWake) {
  CTransCOM link;
  SerialLineSettings line = Line();
  ASSERT_EQ(link.Open(&line), 1);
  ASSERT_TRUE(link.CanWaitUntilWoken());
  std::thread waker([&] { link.WakeWaiter(); });
  EXPECT_FALSE(link.WaitForInput(-1));
  waker.join();
  link.WakeWaiter();
  EXPECT_FALSE(link.WaitForInput(-1));
  std::thread writer([&] { WriteMaster("\x02" "024C020400\r"); });
  EXPECT_TRUE(link.WaitForInput(-1));
  writer.join();
  uint8_t buf[4096];
  EXPECT_EQ(ReadFrame(link, buf), 5);
}

TEST_F(SerialPty, BytesRoundTrip) {
  CTransCOM link;
  SerialLineSettings line = Line();
  ASSERT_EQ(link.Open(&line), 1);
  const std::string packet =
      "\x02"
      "024C020400\r";
  EXPECT_EQ(link.Write(reinterpret_cast<const uint8_t*>(packet.data()), int(packet.size())),
            int(packet.size()));
  EXPECT_EQ(ReadMaster(packet.size()), packet);

  WriteMaster(
      "noise\x02"
      "024C0304"
      "4142\r\x02"
      "024E");
  uint8_t buf[4096];
  ASSERT_EQ(ReadFrame(link, buf), 6);
  EXPECT_EQ(buf[4], 'A');
  WriteMaster("020401\r");
  ASSERT_EQ(ReadFrame(link, buf), 5);
  EXPECT_EQ(buf[1], 0x4E);
}

TEST_F(SerialPty, FailedWriteIsReportedAsFailure) {
  CTransCOM link;
  const uint8_t packet[] = {0x02, '0', '2', 0x0D};
  EXPECT_EQ(link.Write(packet, 4), -1);  // never opened
  SerialLineSettings line = Line();
  ASSERT_EQ(link.Open(&line), 1);
  link.Close();
  EXPECT_EQ(link.Write(packet, 4), -1);
}

TEST_F(SerialPty, WriteWhileAnotherThreadReads) {
  CTransCOM link;
  SerialLineSettings line = Line();
  ASSERT_EQ(link.Open(&line), 1);
  constexpr int kFrames = 200;
  std::atomic<bool> stop{false};
  // The controller's end answers every packet with a frame carrying its number.
  std::thread peer([&] {
    std::string pending;
    int answered = 0;
    while (answered < kFrames && !stop) {
      std::string got = ReadMaster(1);
      for (char c : got) {
        if (c != '\r') continue;
        char reply[16];
        std::snprintf(reply, sizeof(reply),
                      "\x02"
                      "01%02X\r",
                      answered++ & 0xFF);
        WriteMaster(reply);
      }
    }
  });
  std::vector<int> received;
  std::thread reader([&] {
    uint8_t buf[4096];
    while (int(received.size()) < kFrames) {
      int len = ReadFrame(link, buf);
      if (len == 0) break;
      received.push_back(buf[1]);
    }
  });
  const uint8_t packet[] = {0x02, '0', '2', '4', 'C', 0x0D};
  for (int i = 0; i < kFrames; ++i) ASSERT_EQ(link.Write(packet, 6), 6);
  reader.join();
  stop = true;
  peer.join();
  ASSERT_EQ(int(received.size()), kFrames);
  for (int i = 0; i < kFrames; ++i) ASSERT_EQ(received[i], i & 0xFF);
}

}  // namespace
