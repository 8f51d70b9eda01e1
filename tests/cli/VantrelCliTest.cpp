// vantrel as a user runs it: the program against a tpcsim, its exit code, its output and
// the files it writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "capture/CaptureFile.h"
#include "cli/VantrelRun.h"

namespace {

class VantrelCli : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sim.Start({"--usb", "--rate", "2000"})); }
  SimProcess sim;
  Vantrel vantrel{sim};
};

}  // namespace

TEST_F(VantrelCli, InfoAndSendShowTheReplies) {
  Outcome info = vantrel({"info", "--json"});
  ASSERT_EQ(info.code, 0) << info.err;
  const auto j = nlohmann::json::parse(info.out);
  EXPECT_EQ(j["firmware_version"], "TPCSIM 1.0.0");
  EXPECT_EQ(j["panel"]["x_count"], 38);
  EXPECT_EQ(j["panel"]["y_count"], 22);

  Outcome version = vantrel({"send", "SEND 024C020400 ", "--raw"});
  EXPECT_EQ(version.code, 0) << version.err;
  EXPECT_NE(version.out.find("version \"TPCSIM 1.0.0\""), std::string::npos) << version.out;
  EXPECT_NE(version.out.find("raw: 02 4C 0D 04 54 50"), std::string::npos) << version.out;

  ASSERT_TRUE(sim.Ok("nak 03"));
  Outcome nak = vantrel({"send", "SEND 024C020310 "});
  EXPECT_EQ(nak.code, 1);
  EXPECT_NE(nak.out.find("reply 4C/03: NOT OK"), std::string::npos) << nak.out;

  Outcome stream = vantrel({"send", "SEND 024E020400 "});
  EXPECT_EQ(stream.code, 0);
  ExpectLeftAsFound(sim);  // the stream it started was stopped

  EXPECT_EQ(vantrel({"send", "024C020400"}).code, 2);  // no SEND
  EXPECT_EQ(vantrel({"capture", "m0-raw", "--record", "/nonexistent/x.cap"}).code, 2);
  EXPECT_EQ(vantrel({"stats", "m7-raw"}).code, 2);
  // Reading the kept runs never creates a database: a mistyped path is an error.
  const std::string folder = vantrel.File("no-such-folder"), db = "sqlite:" + folder + "/r.db";
  for (const std::vector<std::string>& read :
       {std::vector<std::string>{"report", "--results", db, "-o", vantrel.File("r.html")},
        std::vector<std::string>{"results", "show", "SN1", "--results", db}}) {
    Outcome r = vantrel(read);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find(folder + "/r.db: no such results database"), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(folder));
  Outcome help = vantrel({"test", "--help"});
  EXPECT_EQ(help.code, 0);
  EXPECT_NE(help.out.find("--junit"), std::string::npos);
}

TEST_F(VantrelCli, CaptureWritesTheScansTheControllerSent) {
  const std::string csv = vantrel.File("scans.csv");
  Outcome r = vantrel({"capture", "m0-raw", "--scans", "6", "--csv", csv});
  ASSERT_EQ(r.code, 0) << r.err;
  ExpectLeftAsFound(sim);

  // The first reports of the stream from the simulator's trace, four per scan.
  std::vector<std::vector<int>> sent;
  std::vector<int> scan(60);
  int reports = 0;
  for (const auto& f : sim.TraceFrames("D>H")) {
    if (f.size() < 9 || f[1] != 0x4B || f[3] != 0x00) continue;
    const bool x = f[6] == 1;
    const int start = (x ? f[4] : 38 + f[5]);
    for (size_t i = 7; i + 1 < f.size(); i += 2) scan[start + (i - 7) / 2] = f[i] | f[i + 1] << 8;
    if (++reports % 4 == 0) sent.push_back(scan);
  }
  ASSERT_GE(sent.size(), 6u);

  std::istringstream lines(Slurp(csv));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line.substr(0, 13), "scan,X0,X1,X2");
  EXPECT_NE(line.find(",X37,Y0,"), std::string::npos);
  EXPECT_EQ(line.substr(line.size() - 5), ",Y21\r");
  for (size_t k = 0; k < 6; ++k) {
    ASSERT_TRUE(std::getline(lines, line));
    std::string expected = std::to_string(k + 1);
    for (int v : sent[k]) expected += "," + std::to_string(v);
    EXPECT_EQ(line, expected + "\r") << "scan " << k + 1;
  }
  EXPECT_FALSE(std::getline(lines, line));
}

// The session recorded as a capture file holds every frame of the exchange: the data
// reports are those the simulator sent, in order.
TEST_F(VantrelCli, CaptureRecordsTheSessionAsACaptureFile) {
  const std::string file = vantrel.File("session.cap.zst");
  Outcome r = vantrel({"capture", "m0-raw", "--scans", "6", "--record", file});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.out.empty()) << "no CSV without --csv";
  const capture::ParseResult cap = capture::LoadCapture(file);
  ASSERT_TRUE(cap.Ok()) << cap.error;
  EXPECT_EQ(cap.header.link, capture::LinkKind::kUsb);
  EXPECT_EQ(cap.header.program.rfind("vantrel ", 0), 0u) << cap.header.program;
  std::vector<std::vector<uint8_t>> recorded, sent;
  for (const auto& f : cap.frames)
    if (f.dir == capture::Direction::kDeviceToHost && f.bytes.size() > 1 && f.bytes[1] == 0x4B)
      recorded.push_back(f.bytes);
  for (const auto& f : sim.TraceFrames("D>H"))
    if (f.size() > 1 && f[1] == 0x4B) sent.push_back(f);
  ASSERT_GE(recorded.size(), 24u);  // four reports a scan
  ASSERT_GE(sent.size(), recorded.size());
  sent.resize(recorded.size());
  EXPECT_EQ(recorded, sent);
}

// A host frame is recorded at its own length, as tpcsim traces it, not as the 6 bytes the
// command string "SEND 024C020400 " makes.
TEST_F(VantrelCli, CaptureRecordsHostFramesAtTheirOwnLength) {
  const std::string file = vantrel.File("own.capture");
  ASSERT_EQ(vantrel({"info", "--json"}).code, 0);
  Outcome r = vantrel({"capture", "m0-raw", "--scans", "1", "--record", file});
  ASSERT_EQ(r.code, 0) << r.err;
  const capture::ParseResult cap = capture::LoadCapture(file);
  ASSERT_TRUE(cap.Ok()) << cap.error;
  std::vector<std::vector<uint8_t>> host;
  for (const auto& f : cap.frames)
    if (f.dir == capture::Direction::kHostToDevice) host.push_back(f.bytes);
  ASSERT_FALSE(host.empty());
  EXPECT_EQ(host.front(), (std::vector<uint8_t>{0x02, 0x4C, 0x02, 0x04, 0x00}));
  for (const auto& f : host) EXPECT_EQ(f.size(), size_t(f[2]) + 3);
}

// A recorded session converts to the HID tools' recorder format and back frame for frame;
// a recording of a controller made with that recorder, touch reports of another
// collection among its reports, becomes a capture tpcsim serves.
TEST_F(VantrelCli, CaptureConvertsToAHidRecordingAndBack) {
  const std::string cap = vantrel.File("s.capture");
  ASSERT_EQ(vantrel({"capture", "m0-raw", "--scans", "2", "--record", cap}).code, 0);
  {  // marks, as the touch tests set them, before the first frame and among the frames
    std::istringstream in(Slurp(cap));
    std::string marked, line;
    for (int frame = 0; std::getline(in, line);) {
      if (line.rfind("#", 0) != 0 && (frame == 0 || frame == 5)) {
        marked += "# mark: window " + std::to_string(frame) + "\n";
      }
      frame += line.rfind("#", 0) != 0;
      marked += line + "\n";
    }
    std::ofstream(cap) << marked;
  }
  const std::string hid = vantrel.File("s.hid.txt");
  Outcome to = vantrel({"capture", "convert", cap, hid});
  ASSERT_EQ(to.code, 0) << to.err;
  const std::string text = Slurp(hid);
  EXPECT_NE(text.find("\nR: 27 06 00 ff 09 01 a1 01 "), std::string::npos) << text.substr(0, 600);
  EXPECT_NE(text.find("\nI: 3 227d 0102\n"), std::string::npos);
  EXPECT_NE(text.find("\n# O: 000000."), std::string::npos);
  EXPECT_NE(text.find("\nE: 000000."), std::string::npos);
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("E: ", 0) == 0) {
      EXPECT_EQ(line.substr(17, 3), "64 ") << line;
    }
  }
  const std::string back = vantrel.File("back.capture.zst");
  Outcome from = vantrel({"capture", "convert", hid, back});
  ASSERT_EQ(from.code, 0) << from.err;
  const capture::ParseResult a = capture::LoadCapture(cap), b = capture::LoadCapture(back);
  ASSERT_TRUE(b.Ok()) << b.error;
  EXPECT_GT(a.frames.size(), 10u);
  EXPECT_EQ(b.frames, a.frames);
  EXPECT_EQ(a.marks.size(), 2u);
  EXPECT_EQ(b.marks, a.marks);
  EXPECT_EQ(b.header.program, a.header.program);
  EXPECT_EQ(b.header.linkDetail, a.header.linkDetail);
  EXPECT_EQ(b.header.firmware, a.header.firmware);
  EXPECT_EQ(b.header.panel, a.header.panel);
  EXPECT_EQ(b.header.start, a.header.start);

  std::string zeros;
  for (int i = 0; i < 55; ++i) zeros += " 00";
  const std::string rec = vantrel.File("controller.hid");
  std::ofstream(rec) << "# a controller beside its touch screen\n"
                        "D: 0\nR: 27 06 00 ff 09 01 a1 01 15 00 26 ff 00 75 08 95 40 09 01 81 02 "
                        "95 40 09 01 91 02 c0\n"
                        "N: Touch Controller\nP: usb-0000:00:14.0-2/input1\nI: 3 227d 0102\n"
                        "E: 000000.000000 64 02 4b 05 00 01 00 01 e8 00"
                     << zeros
                     << "\n# ReportID: 1 / Tip Switch: 1\n"
                        "E: 000000.004000 6 01 01 10 00 20 00\n"
                        "E: 000001.250000 64 02 4b 05 00 02 00 01 e8 00"
                     << zeros << "\n";
  const std::string converted = vantrel.File("controller.capture");
  Outcome conv = vantrel({"capture", "convert", rec, converted});
  ASSERT_EQ(conv.code, 0) << conv.err;
  EXPECT_NE(conv.out.find("1 reports that are not controller frames were skipped"),
            std::string::npos)
      << conv.out;
  const capture::ParseResult c = capture::LoadCapture(converted);
  ASSERT_TRUE(c.Ok()) << c.error;
  ASSERT_EQ(c.frames.size(), 2u);
  EXPECT_EQ(c.frames[1].us, 1250000);
  EXPECT_EQ(c.frames[1].bytes,
            (std::vector<uint8_t>{0x02, 0x4B, 0x05, 0x00, 0x02, 0x00, 0x01, 0xE8}));
  EXPECT_EQ(c.header.linkDetail, "vid=227D pid=0102");
  sim.Stop();
  SimProcess replay;
  EXPECT_TRUE(replay.Start({"--usb", "--replay", converted}));

  // A broken recording names its line and leaves nothing behind.
  std::ofstream(rec) << "D: 0\nE: 000000.000000 3 02 4c\n";
  Outcome bad = vantrel({"capture", "convert", rec, converted});
  EXPECT_EQ(bad.code, 2);
  EXPECT_NE(bad.err.find("line 2: 3 bytes announced, 2 found"), std::string::npos) << bad.err;
  EXPECT_TRUE(capture::LoadCapture(converted).Ok()) << "the earlier output is kept";

  // A capture converted into a name of a capture would get recorder text: refused.
  Outcome wrongWay = vantrel({"capture", "convert", cap, vantrel.File("b.capture")});
  EXPECT_EQ(wrongWay.code, 2) << wrongWay.out;
  EXPECT_FALSE(std::filesystem::exists(vantrel.File("b.capture")));
  // An empty event line is refused; a time going back and a missing descriptor are said.
  const std::string frame = "64 02 4b 05 00 01 00 01 e8 00" + zeros;
  std::ofstream(rec) << "D: 0\nE: 000001.000000 " << frame << "\nE:\n";
  Outcome empty = vantrel({"capture", "convert", rec, converted});
  EXPECT_EQ(empty.code, 2);
  EXPECT_NE(empty.err.find("line 3: an event line (E:)"), std::string::npos) << empty.err;
  std::ofstream(rec) << "D: 0\nE: 000001.000000 " << frame << "\nE: 000000.500000 " << frame
                     << "\n";
  Outcome back2 = vantrel({"capture", "convert", rec, converted});
  EXPECT_EQ(back2.code, 0) << back2.err;
  EXPECT_NE(back2.err.find("line 2: no report descriptor (R:)"), std::string::npos) << back2.err;
  EXPECT_NE(back2.err.find("line 3: time goes back 500000 us"), std::string::npos) << back2.err;
}

TEST_F(VantrelCli, LearnedLimitsPassACleanPanelAndNameTheFaultyElectrodes) {
  const std::string limits = vantrel.File("limits.toml");
  Outcome learn = vantrel({"learn", "m0-raw", "open-short", "--scans", "40", "-o", limits});
  ASSERT_EQ(learn.code, 0) << learn.err;
  ExpectLeftAsFound(sim);

  const std::string junit = vantrel.File("report.xml");
  Outcome pass = vantrel({"test", "--limits", limits, "--junit", junit});
  EXPECT_EQ(pass.code, 0) << pass.out << pass.err;
  EXPECT_NE(pass.out.find("PASS"), std::string::npos);
  EXPECT_NE(Slurp(junit).find("failures=\"0\" errors=\"0\""), std::string::npos);

  ASSERT_TRUE(sim.Ok("electrode x 5 noisy 80"));
  ASSERT_TRUE(sim.Ok("electrode y 7 open"));
  const std::string csv = vantrel.File("checks.csv");
  Outcome fail = vantrel({"test", "--limits", limits, "--junit", junit, "--csv", csv});
  EXPECT_EQ(fail.code, 1) << fail.out << fail.err;
  EXPECT_NE(fail.out.find("FAIL X5 stddev"), std::string::npos) << fail.out;
  EXPECT_NE(fail.out.find("FAIL Y7 mean"), std::string::npos) << fail.out;
  EXPECT_NE(fail.out.find("FAIL Y7 open/short"), std::string::npos) << fail.out;
  const std::string xml = Slurp(junit);
  EXPECT_NE(xml.find("<failure message=\"m0-raw X5 stddev: "), std::string::npos) << xml;
  EXPECT_NE(xml.find("<failure message=\"open-short Y7 open/short: open"), std::string::npos);
  EXPECT_EQ(xml.find("name=\"X4 stddev\" time=\"0.000\">"), std::string::npos);  // X4 passes
  EXPECT_NE(Slurp(csv).find("m0-raw,Y7 mean,Y7,0,"), std::string::npos);
  ExpectLeftAsFound(sim);
}

TEST_F(VantrelCli, BadLimitsFilesAndASilentControllerCannotRun) {
  struct Case {
    std::string text, where;
  };
  const std::vector<Case> cases{
      {"[streams.m0-raw]\nlimits = [{ electrodes = \"X1\", mean_min = 9, mean_max = 5 }]\n",
       "bad.toml:2:"},
      {"[streams.m0-raw]\n\nlimits = [{ electrodes = \"Y22\", p2p_max = 3 }]\n", "bad.toml:3:"},
      {"[panel]\nx_count = 38\nrows = 2\n", "bad.toml:3:"},
      {"[streams.m0-raw]\nscans = 1.5\n", "bad.toml:2:"},
  };
  for (const Case& c : cases) {
    std::ofstream(vantrel.File("bad.toml")) << c.text;
    Outcome r = vantrel({"test", "--limits", vantrel.File("bad.toml")});
    EXPECT_EQ(r.code, 2) << c.text;
    EXPECT_NE(r.err.find(c.where), std::string::npos) << r.err;
  }

  ASSERT_TRUE(sim.Ok("silence on"));
  Outcome info = vantrel({"info"}, 15000);
  EXPECT_EQ(info.code, 2);  // not -2: it ended by itself
  EXPECT_NE(info.err.find("did not answer"), std::string::npos) << info.err;

  // Silent in the middle of a stream.
  ASSERT_TRUE(sim.Ok("silence off"));
  const pid_t pid = vantrel.Start({"stats", "m0-raw", "--scans", "100000"});
  ASSERT_TRUE(
      WaitUntil([&] { return sim.Command("status").find("stream=00") != std::string::npos; }));
  ASSERT_TRUE(sim.Ok("silence on"));
  Outcome stalled = vantrel.Finish(pid, 15000);
  EXPECT_EQ(stalled.code, 2);
  EXPECT_NE(stalled.err.find("no complete scan"), std::string::npos) << stalled.err;
}

TEST_F(VantrelCli, CtrlCLeavesTheControllerAsFound) {
  const std::string csv = vantrel.File("long.csv");
  const pid_t pid = vantrel.Start({"capture", "m0-raw", "--scans", "1000000", "--csv", csv});
  // The scans go to a temporary file beside it until the capture ends.
  auto written = [&] {
    for (const auto& e : std::filesystem::directory_iterator(sim.Dir()))
      if (e.path().filename().string().rfind(".long.csv.", 0) == 0 && e.file_size() > 2000)
        return true;
    return false;
  };
  ASSERT_TRUE(WaitUntil(written));
  EXPECT_NE(sim.Command("status").find("target=1"), std::string::npos);
  ::kill(pid, SIGINT);
  Outcome r = vantrel.Finish(pid);
  EXPECT_EQ(r.code, 130) << r.err;
  ExpectLeftAsFound(sim);
  EXPECT_EQ(Slurp(csv).rfind("scan,X0,", 0), 0u);  // the scans captured until then are kept
}

// A stop signal ends a wait for an answer that never comes at once, not when the wait
// runs out (here long after the test's own time).
TEST_F(VantrelCli, StopSignalEndsAWaitForAnAnswerThatNeverComes) {
  ASSERT_TRUE(sim.Ok("calibrate-result never"));
  const pid_t pid = vantrel.Start({"calibrate", "--timeout", "3000"});
  ASSERT_TRUE(WaitUntil([&] {
    return Slurp(vantrel.File("err.txt")).find("Please wait") != std::string::npos;
  })) << Slurp(vantrel.File("err.txt"));
  ::kill(pid, SIGTERM);
  Outcome r = vantrel.Finish(pid, 60000);
  EXPECT_EQ(r.code, 130) << r.err;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
}

TEST(VantrelSerial, InfoOverTheSerialLink) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--serial"}));
  Vantrel vantrel(sim);
  vantrel.UseSerial();
  Outcome r = vantrel({"stats", "m1y-raw", "--scans", "3", "--json"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto j = nlohmann::json::parse(r.out);
  EXPECT_EQ(j["scans"], 3);
  ASSERT_EQ(j["electrodes"].size(), 22u);
  EXPECT_EQ(j["electrodes"][0]["electrode"], "Y0");
  EXPECT_NE(sim.Command("status").find("stream=none"), std::string::npos);
}

TEST_F(VantrelCli, HidDescriptorFilesAndTheListOfControllers) {
  const auto write = [&](const std::string& name, const std::string& text) {
    std::ofstream(vantrel.File(name), std::ios::binary) << text;
    return vantrel.File(name);
  };
  // A touch screen beside a vendor pipe of report id 5 followed by 63 bytes.
  const std::string pipe =
      write("pipe.txt",
            "05 0d 09 04 a1 01 85 01 15 00 26 ff 00 75 08 95 40 09 01 81 02 c0\n"
            "06 00 ff 09 01 a1 01 85 05 95 3f 09 01 81 02 09 01 91 02 c0\n");
  Outcome ok = vantrel({"hid", "--descriptor", pipe, "--json"});
  ASSERT_EQ(ok.code, 0) << ok.err;
  const auto j = nlohmann::json::parse(ok.out);
  EXPECT_EQ(j["usable"], true);
  EXPECT_EQ(j["framing"], "numbered-pipe");
  EXPECT_EQ(j["numbered"], true);
  EXPECT_EQ(j["input_id"], 5);
  EXPECT_EQ(j["output_size"], 63);
  EXPECT_EQ(j["reason"], "");

  // The same bytes in binary, and an unnumbered pipe as C array text and as a recorder line.
  const std::string unnumbered =
      "06 00 ff 09 01 a1 01 15 00 26 ff 00 75 08 95 40 09 01 81 02 09 01 91 02 c0";
  std::string binary;
  for (size_t i = 0; i < unnumbered.size(); i += 3)
    binary += static_cast<char>(std::stoi(unnumbered.substr(i, 2), nullptr, 16));
  std::string array;
  for (size_t i = 0; i < unnumbered.size(); i += 3) array += "0x" + unnumbered.substr(i, 2) + ", ";
  for (const std::string& file :
       {write("bin", binary), write("array.h", array),
        write("rec.txt", "N: panel\nR: 25 " + unnumbered + "\nI: 3 227d 0102\n")}) {
    Outcome r = vantrel({"hid", "--descriptor", file});
    EXPECT_EQ(r.code, 0) << file << ": " << r.err;
    EXPECT_NE(r.out.find("pipe: unnumbered, input 64 bytes, output 64 bytes"), std::string::npos)
        << r.out;
  }

  // Only an output in the vendor collection: refused; the touch report is no reply.
  Outcome refused =
      vantrel({"hid", "--descriptor",
               write("touch.txt",
                     "05 0d 09 04 a1 01 85 01 15 00 26 ff 00 75 08 95 40 09 01 81 02 c0 "
                     "06 00 ff 09 01 a1 01 85 03 95 40 09 01 91 02 c0")});
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.out.find("pipe: refused: no input report in the vendor-defined collection of "
                             "output id 0x03"),
            std::string::npos)
      << refused.out;
  EXPECT_EQ(vantrel({"hid", "--descriptor", vantrel.File("missing")}).code, 2);
  Outcome text = vantrel({"hid", "--descriptor", write("bad.txt", "06 00 fg 09")});
  EXPECT_EQ(text.code, 2);
  EXPECT_NE(text.err.find("not hexadecimal bytes: \"fg\""), std::string::npos) << text.err;

  // The simulated controller, configured; no row for an identity that is not configured.
  Outcome list = vantrel({"list"});
  EXPECT_EQ(list.code, 0) << list.err;
  EXPECT_NE(list.out.find("227D:0102  simulator  configured"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("not configured"), std::string::npos) << list.out;
}
