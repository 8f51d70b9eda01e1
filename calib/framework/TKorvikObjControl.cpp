#include "calib/framework/TKorvikObjControl.h"

#include <algorithm>

namespace {

TKorvikObjControl* gRegistry = nullptr;

// Creates the registry at program start and frees it at program end.
struct RegistryLifetime {
  RegistryLifetime() { TKorvikObjControl::Initialize(); }
  ~RegistryLifetime() { TKorvikObjControl::Finalize(); }
};
RegistryLifetime gRegistryLifetime;

}  // namespace

TKorvikObjControl::TKorvikObjControl() : TKorvikObj(nullptr) {
  FObjects.push_back(this);
}

TKorvikObjControl::~TKorvikObjControl() {
  FObjects.clear();
  FObjects.shrink_to_fit();
}

TKorvikObjControl* TKorvikObjControl::Instance() {
  return gRegistry;
}

void TKorvikObjControl::Initialize() {
  if (gRegistry) return;
  auto* registry = new TKorvikObjControl();
  registry->SetName("KorvikObjController");
  gRegistry = registry;
}

void TKorvikObjControl::Finalize() {
  TKorvikObjControl* registry = gRegistry;
  gRegistry = nullptr;
  delete registry;
}

bool TKorvikObjControl::Contains(const TKorvikObj* obj) const {
  return std::find(FObjects.begin(), FObjects.end(), obj) != FObjects.end();
}

void TKorvikObjControl::Register(TKorvikObj* obj) {
  FObjects.push_back(obj);
  // Handlers run from a copy: one that replaces itself must not free the code it runs.
  if (!FOnObjectAdded) return;
  const TKorvikObjEvent handler = FOnObjectAdded;
  handler(obj);
}

void TKorvikObjControl::Unregister(TKorvikObj* obj) {
  // Newest objects are freed most often: search from the end.
  for (auto it = FObjects.rbegin(); it != FObjects.rend(); ++it) {
    if (*it == obj) {
      FObjects.erase(std::next(it).base());
      break;
    }
  }
  if (!FOnObjectRemoved) return;
  const TKorvikObjEvent handler = FOnObjectRemoved;
  handler(obj);
}
