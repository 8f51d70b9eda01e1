#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// One row of the controller command table: header bytes b0..b3, data code b4, response kind b5.
struct TKorvikCommandRow {
  const char* Name;
  std::uint8_t b0, b1, b2, b3, b4, b5;
};

inline constexpr std::size_t KorvikCommandCount = 39;
extern const std::array<TKorvikCommandRow, KorvikCommandCount> KorvikCommandTable;

// Name of a row, or "" for an index outside the table.
const char* KorvikCommandName(std::size_t index);

// Rows the program refers to by number.
namespace KorvikCmd {
inline constexpr std::uint8_t NotCommand = 0;
inline constexpr std::uint8_t GetM0RawData = 1;
inline constexpr std::uint8_t GetM0OffsetData = 2;
inline constexpr std::uint8_t OpenShortTestY = 11;
inline constexpr std::uint8_t StopContinuallyReport = 12;
inline constexpr std::uint8_t Calibrate = 13;
inline constexpr std::uint8_t SetSampingRate = 14;
inline constexpr std::uint8_t GetVersion = 15;
inline constexpr std::uint8_t ChangeCoordinatesReportTarget = 16;
inline constexpr std::uint8_t GetFirmwareDetail = 17;
inline constexpr std::uint8_t SetM0SpiFreq = 18;
inline constexpr std::uint8_t SetM1SpiFreq = 19;
inline constexpr std::uint8_t ChangeCoordinatesReportPermission = 20;
inline constexpr std::uint8_t GetDriverType = 22;
inline constexpr std::uint8_t MsiRegisterWrite = 24;
inline constexpr std::uint8_t GetMsiBusErrCounterResult = 32;
inline constexpr std::uint8_t DfuGetBootSelect = 33;
inline constexpr std::uint8_t DfuSetBootSelect = 34;
inline constexpr std::uint8_t DfuErasePage = 35;
inline constexpr std::uint8_t DfuProgram = 36;
inline constexpr std::uint8_t DfuRead = 37;
inline constexpr std::uint8_t DfuSetScan = 38;
inline constexpr std::uint8_t FirstDfu = DfuGetBootSelect;
inline constexpr std::uint8_t LastDfu = DfuSetScan;
}  // namespace KorvikCmd
