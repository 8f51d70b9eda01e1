#include "capture/CReplayLink.h"

#include <cstdlib>

#include "capture/FrameRules.h"
#include "link/LinkTrace.h"

namespace capture {

namespace {
constexpr int kReadBuffer = 4096;  // the controller's receive buffer
}

CReplayLink::CReplayLink(std::shared_ptr<CReplayPlayer> player)
    : player_(std::move(player)), serial_(player_->GetHeader().link == LinkKind::kSerial) {
  // The operating-system type the recorded session used decides how the views draw.
  const std::string& detail = player_->GetHeader().linkDetail;
  const size_t at = detail.find("ostype=");
  if (at != std::string::npos) osType_ = std::atoi(detail.c_str() + at + 7);
}

int CReplayLink::LinkTypeOf(const Header& header) {
  return header.link == LinkKind::kSerial ? kLinkCom : kLinkUsb;
}

int CReplayLink::Open(const void* /*settings*/) {
  state_.store(kLinkIdle);
  return 1;
}

void CReplayLink::Close() {
  state_.store(kLinkClosed);
}

int CReplayLink::Read(uint8_t* buf) {
  if (state_.load() == kLinkClosed) return 0;
  const int n = player_->Next(buf, kReadBuffer);
  if (n > 0 && !firstReadTraced_) {
    firstReadTraced_ = true;
    LinkTrace("[CReplayLink] first frame read\n");
  }
  return n;
}

int CReplayLink::Write(const uint8_t* data, int len) {
  if (state_.load() == kLinkClosed || data == nullptr || len <= 0) return -1;
  if (serial_) {
    const Bytes frame = DecodeSerialPacket(data, len);
    player_->HostFrame(frame.data(), static_cast<int>(frame.size()));
  } else {
    player_->HostFrame(data, len);
  }
  return len;
}

bool CReplayLink::WaitForInput(int ms) {
  return state_.load() != kLinkClosed && player_->WaitForInput(ms);
}

std::string CReplayLink::Describe() const {
  const Header& h = player_->GetHeader();
  return h.linkDetail.empty() ? "replay" : h.linkDetail + " (replay)";
}

}  // namespace capture
