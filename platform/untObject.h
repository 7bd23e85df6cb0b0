// The common root of objects that raise or receive events: a Sender is a
// TObject*. Copying is meaningless for such objects, so it is disabled.
#pragma once

namespace vela {

class TObject {
public:
  TObject() = default;
  virtual ~TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
};

} // namespace vela
