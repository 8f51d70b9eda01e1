#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KorvikLogRecorder.h"
#include "calib/framework/TKorvikCommandTable.h"
#include "calib/framework/TKorvikUsbCoordinatesReport.h"
#include "calib/framework/TKorvikUsbDfuCommand.h"
#include "calib/framework/TKorvikUsbDfuResponse.h"
#include "calib/framework/TKorvikUsbMessageFactory.h"
#include "calib/framework/TKorvikUsbReport.h"
#include "calib/framework/TKorvikUsbResponse.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// A received frame as the transfer thread hands it over: inside a zeroed 1024-byte buffer.
Bytes Received(const Bytes& frame) {
  Bytes buffer(1024, 0);
  std::copy(frame.begin(), frame.end(), buffer.begin());
  return buffer;
}

class FactoryTest : public ::testing::Test {
 protected:
  // The factory inherits the owner's sink at construction.
  FactoryTest() {
    owner.SetOnLog(log.Sink());
    factory = std::make_unique<TKorvikUsbMessageFactory>(&owner);
  }

  std::unique_ptr<TKorvikUsbCommand> Command(std::uint8_t row, const Bytes& args = {}) {
    return factory->CreateUsbCommand(row, args);
  }
  std::unique_ptr<TKorvikUsbMessage> Receive(const Bytes& frame) {
    return factory->CreateUsbMessage(TKorvikUsbMessageFactory::DirectionReceived, Received(frame));
  }
  std::unique_ptr<TKorvikUsbMessage> Send(const Bytes& content) {
    return factory->CreateUsbMessage(TKorvikUsbMessageFactory::DirectionSend, content);
  }

  KorvikLogRecorder log;
  TKorvikObj owner;
  std::unique_ptr<TKorvikUsbMessageFactory> factory;
};

const char* kFixText = "Fixing wrong send-byte in creating argument: ";

}  // namespace

TEST_F(FactoryTest, CommandsCarryTheirRowHeaderAndArguments) {
  auto calibrate = Command(KorvikCmd::Calibrate);
  ASSERT_TRUE(calibrate);
  EXPECT_EQ(calibrate->Data(), (Bytes{0x02, 0x4C, 0x01, 0x01}));
  EXPECT_EQ(calibrate->CommandIndex(), KorvikCmd::Calibrate);
  EXPECT_EQ(calibrate->Received(), 0);
  EXPECT_EQ(calibrate->Owner(), &owner);

  auto version = Command(KorvikCmd::GetVersion, {0x01});
  ASSERT_TRUE(version);
  EXPECT_EQ(version->Data(), (Bytes{0x02, 0x4C, 0x02, 0x04, 0x01}));
  EXPECT_EQ(version->CommandIndex(), KorvikCmd::GetVersion);
  EXPECT_TRUE(log.entries.empty());
}

TEST_F(FactoryTest, EveryGeneralRowBuildsItsOwnHeader) {
  for (std::uint8_t row = 1; row <= 32; ++row) {
    const TKorvikCommandRow& r = KorvikCommandTable[row];
    Bytes args(r.b2 > 0 ? r.b2 - 1 : 1, 0x00);
    auto command = Command(row, args);
    ASSERT_TRUE(command) << r.Name;
    const Bytes& d = command->Data();
    ASSERT_EQ(d.size(), args.size() + 4) << r.Name;
    EXPECT_EQ(d[0], r.b0);
    EXPECT_EQ(d[1], r.b1);
    EXPECT_EQ(d[2], args.size() + 1);
    EXPECT_EQ(d[3], r.b3);
    // Rows 18 and 19 share their header bytes: both resolve to 18.
    EXPECT_EQ(command->CommandIndex(), row == KorvikCmd::SetM1SpiFreq ? 18 : row) << r.Name;
  }
}

TEST_F(FactoryTest, LengthByteIsCorrectedOnceAndLogged) {
  auto write = Command(KorvikCmd::MsiRegisterWrite, {0xA1, 0xA2, 0xA3});
  ASSERT_TRUE(write);
  EXPECT_EQ(write->Data(), (Bytes{0x02, 0x4C, 0x04, 0x92, 0xA1, 0xA2, 0xA3}));
  ASSERT_EQ(log.Count(kFixText), 1);
  EXPECT_EQ(log.entries.back().text, std::string(kFixText) + "00 -> 04");
  EXPECT_EQ(log.entries.back().level, 1);

  log.entries.clear();
  auto full = Command(KorvikCmd::SetM0SpiFreq, {0x00, 0x20, 0x01});
  ASSERT_TRUE(full);
  EXPECT_EQ(full->Data(), (Bytes{0x02, 0x4C, 0x04, 0x07, 0x00, 0x20, 0x01}));
  EXPECT_TRUE(log.entries.empty());

  auto single = Command(KorvikCmd::SetM0SpiFreq, {0x05});
  ASSERT_TRUE(single);
  EXPECT_EQ(single->Data(), (Bytes{0x02, 0x4C, 0x02, 0x07, 0x05}));
  ASSERT_EQ(log.Count(kFixText), 1);
  EXPECT_EQ(log.entries.back().text, std::string(kFixText) + "04 -> 02");

  auto m1 = Command(KorvikCmd::SetM1SpiFreq, {0x01, 0x20, 0x01});
  ASSERT_TRUE(m1);
  EXPECT_EQ(m1->CommandIndex(), KorvikCmd::SetM0SpiFreq);
}

TEST_F(FactoryTest, RowsOutsideTheTableAreRefused) {
  for (std::uint8_t row : {std::uint8_t{0}, std::uint8_t{39}, std::uint8_t{255}}) {
    log.entries.clear();
    EXPECT_FALSE(Command(row));
    ASSERT_EQ(log.entries.size(), 1u);
    EXPECT_EQ(log.entries[0].text,
              KorvikFormat("TKorvikUsbMessageFactory.CreateUsbCommand error, AType: 0x%02x", row));
    EXPECT_EQ(log.entries[0].level, 7);
  }
}

TEST_F(FactoryTest, BootLoaderCommandsAreFixedSizeFrames) {
  auto get = Command(KorvikCmd::DfuGetBootSelect);
  ASSERT_TRUE(dynamic_cast<TKorvikUsbDfuCmdGetBootSelect*>(get.get()));
  EXPECT_EQ(get->Data(), (Bytes{0xF1, 0x01, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(get->CommandIndex(), KorvikCmd::DfuGetBootSelect);

  auto set = Command(KorvikCmd::DfuSetBootSelect, {0x01, 0x77});
  ASSERT_TRUE(dynamic_cast<TKorvikUsbDfuCmdSetBootSelect*>(set.get()));
  // Only the selector is kept.
  EXPECT_EQ(set->Data(), (Bytes{0xF1, 0x02, 0x01, 0, 0, 0, 0, 0}));

  auto scan = Command(KorvikCmd::DfuSetScan, {0x03});
  ASSERT_TRUE(dynamic_cast<TKorvikUsbDfuCmdSetScan*>(scan.get()));
  EXPECT_EQ(scan->Data(), (Bytes{0xF1, 0x07, 0x03, 0, 0, 0, 0, 0}));

  auto erase = Command(KorvikCmd::DfuErasePage, Bytes(20, 0xEE));
  ASSERT_TRUE(dynamic_cast<TKorvikUsbDfuCmdAccessAddress*>(erase.get()));
  EXPECT_EQ(erase->Data(), (Bytes{0xF1, 0x04, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));

  auto program = Command(KorvikCmd::DfuProgram);
  ASSERT_TRUE(dynamic_cast<TKorvikUsbDfuCmdProgram*>(program.get()));
  ASSERT_EQ(program->Length(), 64u);
  EXPECT_EQ(program->Data()[0], 0xF2);
  EXPECT_EQ(program->Data()[1], 0x05);

  EXPECT_TRUE(dynamic_cast<TKorvikUsbDfuCmdRead*>(Command(KorvikCmd::DfuRead).get()));
  EXPECT_TRUE(log.entries.empty());
}

TEST_F(FactoryTest, UnknownSendingContentIsLoggedWithItsDump) {
  EXPECT_FALSE(Send({0x02, 0x4C, 0x09, 0x77}));
  EXPECT_FALSE(Send({0xF1, 0x09, 0x00, 0x00}));
  EXPECT_FALSE(Send({0x33, 0x4C, 0x01, 0x01}));
  EXPECT_FALSE(Send({0x02, 0x4C, 0x01}));  // too short to classify
  ASSERT_EQ(log.entries.size(), 3u);
  EXPECT_EQ(log.entries[0].text, "Unknown sending general command: 0x02 0x4C 0x09 0x77 ");
  EXPECT_EQ(log.entries[1].text, "Unknown sending DFU command: 0xF1 0x09 0x00 0x00 ");
  EXPECT_EQ(log.entries[2].text, "Unknown sending data: 0x33 0x4C 0x01 0x01 ");
  for (const auto& e : log.entries) EXPECT_EQ(e.level, 5);
}

TEST_F(FactoryTest, DataGroupFramesAreAcknowledgementsOrRawData) {
  auto ack = Receive({0x02, 0x4B, 0x02, 0x05, 0x01});
  auto* type1 = dynamic_cast<TKorvikUsbResponseType1*>(ack.get());
  ASSERT_TRUE(type1);
  EXPECT_EQ(type1->CommandIndex(), KorvikCmd::GetM0OffsetData);
  EXPECT_EQ(type1->Received(), 1);

  auto raw = Receive({0x02, 0x4B, 0x07, 0x01, 0, 0, 1, 0xE8, 0x03, 0xE9, 0x03});
  auto* report = dynamic_cast<TKorvikUsbRawDataReport*>(raw.get());
  ASSERT_TRUE(report);
  EXPECT_EQ(report->ReportKind(), TKorvikUsbReport::KindRawData);
  EXPECT_EQ(report->Length(), 10u);
  EXPECT_FALSE(dynamic_cast<TKorvikUsbCommand*>(raw.get()));

  // A data code of no row is not a report, and no 4B row exists for a response.
  EXPECT_FALSE(Receive({0x02, 0x4B, 0x07, 0x77, 0, 0, 1, 0, 0, 0}));
}

TEST_F(FactoryTest, ResponsesTakeTheClassOfTheirRow) {
  auto version = Receive({0x02, 0x4C, 0x05, 0x04, 'V', '1', '.', '2'});
  auto* type4 = dynamic_cast<TKorvikUsbResponseType4*>(version.get());
  ASSERT_TRUE(type4);
  EXPECT_EQ(type4->CommandIndex(), KorvikCmd::GetVersion);
  // Built from the whole buffer: the length byte becomes 1021 as a byte, 256 bytes kept.
  EXPECT_EQ(type4->Length(), 256u);
  EXPECT_EQ(type4->Data()[2], 0xFD);
  EXPECT_EQ(log.Count(std::string(kFixText) + "05 -> 1021"), 1);
  std::string text = ">";
  type4->ContentText(text);
  ASSERT_EQ(text.size(), 253u);
  EXPECT_EQ(text.substr(0, 5), ">V1.2");
  EXPECT_EQ(text[5], '\0');

  auto calibrate = Receive({0x02, 0x4C, 0x02, 0x01, 0x01});
  ASSERT_TRUE(dynamic_cast<TKorvikUsbResponseType3*>(calibrate.get()));
  EXPECT_TRUE(dynamic_cast<TKorvikUsbResponseType1*>(calibrate.get()));
  EXPECT_TRUE(calibrate->IsSuccess());

  auto failed = Receive({0x02, 0x4C, 0x02, 0x01, 0x00});
  ASSERT_TRUE(failed);
  EXPECT_FALSE(failed->IsSuccess());

  auto spi = Receive({0x02, 0x4C, 0x02, 0x07, 0x01});
  ASSERT_TRUE(spi);
  EXPECT_EQ(dynamic_cast<TKorvikUsbCommand&>(*spi).CommandIndex(), KorvikCmd::SetM0SpiFreq);

  auto detail = Receive({0x02, 0x4C, 0x0E, 0x06, 20, 12, 0x40, 0x00, 0x99, 0x00, 0x05, 0x00, 0x03});
  auto* type5 = dynamic_cast<TKorvikUsbResponseType5*>(detail.get());
  ASSERT_TRUE(type5);
  EXPECT_EQ(type5->DetailXCount(), 20);
  EXPECT_EQ(type5->DetailYCount(), 12);
  EXPECT_EQ(type5->DetailByte8(), 0x99);
  EXPECT_EQ(type5->DetailXRange(), 0x0500);
  EXPECT_EQ(type5->DetailYRange(), 0x0300);

  EXPECT_TRUE(dynamic_cast<TKorvikUsbResponseType6*>(Receive({0x02, 0x4C, 0x02, 0x91}).get()));
  EXPECT_TRUE(dynamic_cast<TKorvikUsbResponseType9*>(Receive({0x02, 0x4C, 0x02, 0x09}).get()));
  EXPECT_FALSE(Receive({0x02, 0x4C, 0x02, 0x0A, 0x01}));  // GetDriverType: kind 9, no class
  EXPECT_FALSE(Receive({0x02, 0x4C, 0x02, 0x55, 0x01}));  // no row
  EXPECT_FALSE(Receive({0x5F, 0x4C, 0x02, 0x04, 0x01}));  // unknown type
}

TEST_F(FactoryTest, CoordinatesReportsPickTheirEntrySize) {
  // n = 2, 6-byte entries: 16 bytes.
  auto six =
      Receive({0x02, 0x4D, 0x0D, 0x02, 7, 1, 0x34, 0x12, 0x78, 0x56, 4, 2, 0x10, 0, 0x20, 0});
  auto* r6 = dynamic_cast<TKorvikUsbCoordinatesReport*>(six.get());
  ASSERT_TRUE(r6);
  EXPECT_EQ(r6->ReportKind(), TKorvikUsbReport::KindCoordinates);
  EXPECT_EQ(r6->EntrySize(), 6u);
  ASSERT_EQ(r6->Coordinates().size(), 2u);
  EXPECT_EQ(r6->Coordinates()[0].flag, 7);
  EXPECT_EQ(r6->Coordinates()[0].x, 0x1234);
  EXPECT_EQ(r6->Coordinates()[0].y, 0x5678);
  EXPECT_EQ(r6->Coordinates()[1].id, 2);
  EXPECT_EQ(r6->Coordinates()[1].y, 0x20);

  // n = 2, 10-byte entries: 24 bytes; the last 4 bytes of an entry are not read.
  Bytes ten = {0x02, 0x4D, 0x15, 0x02, 4,    1,    0x01, 0x02, 0x03, 0x04, 9, 9,
               9,    9,    0,    2,    0x05, 0x06, 0x07, 0x08, 9,    9,    9, 9};
  auto tenReport = Receive(ten);
  auto* r10 = dynamic_cast<TKorvikUsbCoordinatesReport*>(tenReport.get());
  ASSERT_TRUE(r10);
  EXPECT_EQ(r10->EntrySize(), 10u);
  EXPECT_EQ(r10->Coordinates()[1].x, 0x0605);
  EXPECT_EQ(r10->Coordinates()[1].y, 0x0807);
  EXPECT_TRUE(log.entries.empty());

  // n = 2 in 20 bytes fits neither: logged, entries stay zero.
  auto bad = Receive({0x02, 0x4D, 0x11, 0x02, 7, 1, 1, 1, 1, 1, 7, 1, 1, 1, 1, 1, 1, 1, 1, 1});
  auto* r20 = dynamic_cast<TKorvikUsbCoordinatesReport*>(bad.get());
  ASSERT_TRUE(r20);
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].text, "TKorvikUsbCoordinatesReport.Create error, Length: 0x14");
  EXPECT_EQ(log.entries[0].level, 7);
  ASSERT_EQ(r20->Coordinates().size(), 2u);
  EXPECT_EQ(r20->Coordinates()[0].flag, 0);
  EXPECT_EQ(r20->Coordinates()[0].x, 0);
}

TEST_F(FactoryTest, UnknownCoordinateFlagsAreCorrected) {
  auto report = Receive({0x02, 0x4D, 0x0D, 0x02, 4, 1, 1, 0, 1, 0, 5, 2, 1, 0, 1, 0});
  auto* r = dynamic_cast<TKorvikUsbCoordinatesReport*>(report.get());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Coordinates()[0].flag, 4);
  EXPECT_EQ(r->Coordinates()[1].flag, 0);
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].text, "Fixing wrong Coordinate01-Flag in creating argument: 05 -> 00");
  EXPECT_EQ(log.entries[0].level, 7);
}

TEST_F(FactoryTest, ShortContentIsZeroFilledToTheFrameLength) {
  // Four bytes announcing a 16-byte report: nothing is read past the given content.
  auto report = factory->CreateUsbMessage(TKorvikUsbMessageFactory::DirectionReceived,
                                          Bytes{0x02, 0x4D, 0x0D, 0x02});
  auto* r = dynamic_cast<TKorvikUsbCoordinatesReport*>(report.get());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->Length(), 16u);
  EXPECT_EQ(r->Coordinates()[1].x, 0);
}

TEST_F(FactoryTest, BootLoaderAnswersAndDeviceText) {
  auto answer = Receive({0xF3, 0x01, 0x00, 0x01, 0x11, 0x04, 0xAA, 0xBB});
  auto* boot = dynamic_cast<TKorvikUsbDfuResGetBootSelect*>(answer.get());
  ASSERT_TRUE(boot);
  EXPECT_EQ(boot->Length(), 8u);
  EXPECT_EQ(boot->CommandIndex(), KorvikCmd::DfuGetBootSelect);
  EXPECT_EQ(boot->BootSelect(), 1);
  EXPECT_EQ(boot->LoaderState(), 2);
  EXPECT_EQ(boot->McuId(), 0x0401);

  auto set = Receive({0xF3, 0x02, 0x00, 0x00});
  EXPECT_TRUE(dynamic_cast<TKorvikUsbDfuResSetBootSelect*>(set.get()));
  auto read = Receive({0xF4, 0x06, 0x00, 0x00});
  ASSERT_TRUE(dynamic_cast<TKorvikUsbDfuResRead*>(read.get()));
  EXPECT_EQ(read->Length(), 64u);
  EXPECT_FALSE(Receive({0xF3, 0x09, 0x00, 0x00}));

  log.entries.clear();
  EXPECT_FALSE(Receive({0xF5, 'H', 0, 'i', '!'}));
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].text, "Hi!");
  EXPECT_EQ(log.entries[0].level, 1);
}

TEST(KorvikMessage, AccessorsOnShortOrInvalidFrames) {
  KorvikLogRecorder log;
  TKorvikObj owner;
  owner.SetOnLog(log.Sink());

  TKorvikUsbMessage invalid(&owner, Bytes{0x33, 1, 2, 3, 4, 5}, 0);
  EXPECT_EQ(invalid.Length(), 0u);
  ASSERT_EQ(log.entries.size(), 1u);
  EXPECT_EQ(log.entries[0].text, "TKorvikUsbMessage.Create error, AContent[0]: 0x33");
  EXPECT_EQ(log.entries[0].level, 7);

  TKorvikUsbMessage shortFrame(&owner, Bytes{0x02, 0x4C, 0x01, 0x01}, 0);
  EXPECT_EQ(shortFrame.ResultByte(), 0);
  EXPECT_FALSE(shortFrame.IsSuccess());
  EXPECT_EQ(shortFrame.DetailXRange(), 0);
  std::string text = "keep";
  shortFrame.ContentText(text);
  EXPECT_EQ(text, "keep");

  TKorvikUsbDfuResGetBootSelect tiny(&owner, Bytes{0xF3, 0x01, 0x00}, 1,
                                     KorvikCmd::DfuGetBootSelect);
  EXPECT_EQ(tiny.Length(), 8u);  // zero-filled frame
  TKorvikUsbDfuResGetBootSelect other(&owner, Bytes{0xF3, 0x01, 0x00, 0x05, 0x01, 0x00}, 1,
                                      KorvikCmd::DfuGetBootSelect);
  EXPECT_EQ(other.BootSelect(), 2);
  EXPECT_EQ(other.LoaderState(), 1);
}
