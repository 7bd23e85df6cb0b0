// The base of objects that are created with an owner component.
//
// Ownership is explicit in this program: whoever creates an object frees it,
// in reverse order of creation. The owner is remembered for information only;
// it does not free its children (a port worker frees the ports whose owner is
// its driver, on its own thread, so an owner-managed child list would race).
#pragma once

#include "platform/untObject.h"

namespace vela {

class TComponent : public TObject {
public:
  explicit TComponent(TComponent* AOwner = nullptr) : FOwner(AOwner) {}

  TComponent* Owner() const { return FOwner; }

private:
  TComponent* FOwner;
};

} // namespace vela
