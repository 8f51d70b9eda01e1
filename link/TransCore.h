// What the transfer controller shares with its receive thread. Held through a shared
// pointer, so that a receive thread left behind by Close keeps it alive.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "CDirectDeliverer.h"
#include "CFrameDecoder.h"
#include "CLinkHolder.h"
#include "CLinkIdentity.h"
#include "CListenerTable.h"
#include "CPanelKeeper.h"
#include "CSendPath.h"
#include "ITransDeliverer.h"
#include "ITransHost.h"

struct TransCore {
  std::atomic<ITransDeliverer*> deliverer{nullptr};
  std::atomic<ITransHost*> host{nullptr};
  CDirectDeliverer direct;
  std::function<std::unique_ptr<CTransIFBase>(int linkType)> factory;

  CLinkHolder link;
  CSendPath send{link};
  CListenerTable listeners;
  CFrameDecoder decoder;
  CPanelKeeper panel;
  CLinkIdentity identity;

  std::atomic<int> receiving{0};
  std::atomic<bool> plainPolling{false};
  std::mutex recvLock;  // one Read at a time

  // Without a deliverer, deliveries run on the receive thread.
  ITransDeliverer* Deliverer() {
    ITransDeliverer* d = deliverer.load();
    return d != nullptr ? d : &direct;
  }
};
