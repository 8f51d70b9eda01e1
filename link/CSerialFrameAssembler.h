// Turns received serial bytes (STX, hexadecimal text, CR) back into frames, one per call,
// carrying a frame in progress and unscanned bytes over to the next call.
//
// A frame whose decoded bytes would exceed kDecodedSize is dropped whole: the rest of it
// is skipped up to its CR, and scanning goes on with the next frame.
#pragma once

#include <cstdint>

class CSerialFrameAssembler {
 public:
  static constexpr int kRawSize = 4096;
  static constexpr int kDecodedSize = 4096;
  static constexpr int kReadChunkWhenFull = 4088;

  // True when bytes from an earlier read are still to be scanned.
  bool HasRaw() const { return rawPos_ < rawCount_; }
  // Raw buffer to read into (kRawSize bytes) and how many bytes to ask for when
  // `waiting` bytes are queued.
  uint8_t* RawBuffer() { return raw_; }
  static int ReadSize(int waiting) { return waiting > kRawSize ? kReadChunkWhenFull : waiting; }
  // Marks `count` bytes of the raw buffer as read; scanning starts at its beginning.
  void SetRawCount(int count);

  // Scans the raw bytes; on a CR that closes a frame copies it to out (kDecodedSize
  // bytes) and returns its length. 0 when the raw bytes ran out first.
  int Scan(uint8_t* out);

  void Reset();

 private:
  uint8_t raw_[kRawSize] = {};
  uint8_t decoded_[kDecodedSize] = {};
  int rawCount_ = 0;
  int rawPos_ = 0;  // next raw byte to scan
  int decodedCount_ = 0;
  uint8_t high_ = 0;  // value of a high digit waiting for its low digit, times 16
  bool inFrame_ = false;
  bool halfByte_ = false;
  bool overflow_ = false;
};
