#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "calib/framework/TKorvikObj.h"

using TKorvikObjEvent = std::function<void(TKorvikObj* obj)>;

// The registry of live framework objects ("KorvikObjController"). It lists, without owning,
// every object from its construction to its destruction. One instance exists from program
// start to program end; Initialize and Finalize create and free it.
class TKorvikObjControl : public TKorvikObj {
 public:
  TKorvikObjControl();
  ~TKorvikObjControl() override;

  // The process-wide registry, or nullptr before start and after the end.
  static TKorvikObjControl* Instance();
  // Creates the registry named "KorvikObjController" when none exists.
  static void Initialize();
  // Clears the global reference, then frees the registry (listed objects are not freed).
  static void Finalize();

  void SetOnObjectAdded(TKorvikObjEvent handler) { FOnObjectAdded = std::move(handler); }
  void SetOnObjectRemoved(TKorvikObjEvent handler) { FOnObjectRemoved = std::move(handler); }

  // Number of listed objects, the registry itself included.
  std::size_t Count() const { return FObjects.size(); }
  const std::vector<TKorvikObj*>& Objects() const { return FObjects; }
  bool Contains(const TKorvikObj* obj) const;

  // Used by TKorvikObj construction and destruction.
  void Register(TKorvikObj* obj);
  void Unregister(TKorvikObj* obj);

 private:
  std::vector<TKorvikObj*> FObjects;
  TKorvikObjEvent FOnObjectAdded;
  TKorvikObjEvent FOnObjectRemoved;
};
