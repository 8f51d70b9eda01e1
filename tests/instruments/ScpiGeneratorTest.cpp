// The signal generator driver: over a raw socket against tpcsim's generator, and over a
// device file (a pseudo-terminal standing in for /dev/usbtmc0) against the same SCPI
// engine; settings confirmed, refusals named, the output switched off again after a lost
// connection.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "common/SimProcess.h"
#include "instruments/ScpiGenerator.h"
#include "instruments/ScpiLink.h"
#include "sim/SimGenerator.h"

using instruments::ScpiGenerator;
using instruments::ScpiLink;
using instruments::Waveform;

namespace {

std::unique_ptr<ScpiGenerator> Connect(const std::string& address) {
  std::string error;
  auto link = ScpiLink::FromAddress(address, error);
  EXPECT_TRUE(link) << error;
  return link ? std::make_unique<ScpiGenerator>(std::move(link), 2000) : nullptr;
}

}  // namespace

TEST(ScpiLinkAddress, ParsesTheAddressesItTakes) {
  std::string error;
  EXPECT_EQ(ScpiLink::FromAddress("tcp://bench-gen", error)->Address(), "tcp://bench-gen:5025");
  EXPECT_EQ(ScpiLink::FromAddress("tcp://10.0.0.7:5555/", error)->Address(), "tcp://10.0.0.7:5555");
  EXPECT_EQ(ScpiLink::FromAddress("tcp://[::1]:5025", error)->Address(), "tcp://[::1]:5025");
  EXPECT_EQ(ScpiLink::FromAddress("usbtmc:/dev/usbtmc0", error)->Address(), "usbtmc:/dev/usbtmc0");
  for (const char* bad : {"tcp://", "tcp://host:0", "tcp://host:x", "gpib0::10", "usbtmc:"}) {
    EXPECT_FALSE(ScpiLink::FromAddress(bad, error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
  }
}

TEST(SimGeneratorScpi, LongAndShortFormsQueriesAndTheErrorQueue) {
  tpcsim::SimGenerator g;
  EXPECT_EQ(g.Execute("SOURce1:FREQuency:CW 150 kHz;:OUTPut:STATe ON;FREQ?;OUTP?"), "150000;1");
  EXPECT_EQ(g.Execute("sour:volt:unit vpp; volt 12.5; func square; func?; volt?"), "SQU;12.5");
  EXPECT_EQ(g.Execute("SYST:ERR?"), "0,\"No error\"");
  g.Execute("FREQ 1E9");     // beyond the generator
  g.Execute("FREQUEN 1000");  // neither form
  g.Execute("VOLT");
  EXPECT_EQ(g.Execute("SYST:ERR?"), "-222,\"Data out of range\"");
  EXPECT_EQ(g.Execute("SYSTem:ERRor:NEXT?"), "-113,\"Undefined header\"");
  EXPECT_EQ(g.Execute("SYST:ERR?"), "-109,\"Missing parameter\"");
  EXPECT_EQ(g.Execute("SYST:ERR?"), "0,\"No error\"");
  EXPECT_EQ(g.Execute("FREQ?"), "150000") << "a refused setting changes nothing";
  // The panel's susceptibility: gain per Vpp inside the band, while the output is on.
  g.AddBand({100e3, 200e3, 4});
  g.SetGhostLevel(50, 2);
  EXPECT_DOUBLE_EQ(g.ConductedCounts(), 50);
  EXPECT_EQ(g.ConductedGhosts(), 2);
  g.Execute("FREQ 250000");
  EXPECT_EQ(g.ConductedCounts(), 0);
  g.Execute("FREQ 150000;*RST");
  EXPECT_EQ(g.ConductedCounts(), 0) << "a reset switches the output off";
}

TEST(ScpiGeneratorDriver, DrivesTpcsimsGeneratorAndNamesARefusedCommand) {
  SimProcess sim;
  ASSERT_TRUE(sim.Start({"--usb", "--scpi", "0"}));
  const std::string status = sim.Command("generator");
  const std::string port = std::to_string(std::stoi(status.substr(status.find("scpi=") + 5)));
  auto gen = Connect("tcp://127.0.0.1:" + port);
  std::string id, error;
  ASSERT_TRUE(gen->Start(id, error)) << error;
  EXPECT_EQ(id, "tpcsim,simulated signal generator,0,1.0");
  ASSERT_TRUE(gen->Configure(Waveform::kSquare, 10, error)) << error;
  ASSERT_TRUE(gen->SetFrequency(123456.789, error)) << error;
  ASSERT_TRUE(gen->OutputOn(error)) << error;
  EXPECT_NE(sim.Command("generator").find("output=on freq=123456.789 vpp=10 func=SQU"),
            std::string::npos)
      << sim.Command("generator");

  EXPECT_FALSE(gen->SetFrequency(90e6, error));
  EXPECT_EQ(error, "the generator refused \"FREQ 90000000\": -222,\"Data out of range\"");
  ASSERT_TRUE(sim.Ok("scpi-refuse VOLT"));
  EXPECT_FALSE(gen->Configure(Waveform::kSine, 5, error));
  EXPECT_EQ(error, "the generator refused \"VOLT 5\": -200,\"Execution error\"");

  // A connection lost with the output on: switched off over a new one.
  ASSERT_TRUE(sim.Ok("scpi-drop"));
  EXPECT_FALSE(gen->SetFrequency(1000, error));
  EXPECT_TRUE(gen->Lost());
  EXPECT_TRUE(gen->OutputOff(error)) << error;
  EXPECT_NE(sim.Command("generator").find("output=off"), std::string::npos);
  // No generator there at all: said, with the address.
  sim.Stop();
  auto gone = Connect("tcp://127.0.0.1:" + port);
  EXPECT_FALSE(gone->Start(id, error));
  EXPECT_NE(error.find("tcp://127.0.0.1:" + port + ": cannot connect"), std::string::npos) << error;
}

TEST(ScpiGeneratorDriver, TalksOverADeviceFile) {
  int master = -1, slave = -1;
  char name[128] = "";
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  // The instrument: lines from the device file answered by the simulated generator.
  tpcsim::SimGenerator sim;
  std::atomic<bool> stop{false};
  std::thread instrument([&] {
    std::string in;
    while (!stop) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, 20) != 1) continue;
      char buf[256];
      const ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) break;
      in.append(buf, static_cast<size_t>(n));
      for (size_t nl; (nl = in.find('\n')) != std::string::npos; in.erase(0, nl + 1)) {
        const std::string answer = sim.Execute(in.substr(0, nl));
        if (!answer.empty()) (void)!::write(master, (answer + "\n").data(), answer.size() + 1);
      }
    }
  });
  auto gen = Connect(std::string("usbtmc:") + name);
  std::string id, error;
  EXPECT_TRUE(gen->Start(id, error)) << error;
  EXPECT_TRUE(gen->Configure(Waveform::kSine, 3, error)) << error;
  EXPECT_TRUE(gen->SetFrequency(2e6, error)) << error;
  EXPECT_TRUE(gen->OutputOn(error)) << error;
  EXPECT_TRUE(sim.Output());
  EXPECT_EQ(sim.Function(), "SIN");
  EXPECT_DOUBLE_EQ(sim.FrequencyHz(), 2e6);
  gen.reset();  // the driver's end switches the output off
  EXPECT_FALSE(sim.Output());
  stop = true;
  instrument.join();
  ::close(slave);
  ::close(master);
}
