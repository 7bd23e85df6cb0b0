// Method pointers: an object plus one of its member functions.
//
// Callbacks in this program are bound to an object and a member function, as
// event properties are in a component toolkit. A method pointer is "assigned"
// when its function part is set; it is emptied as a whole (object and
// function together) with Clear(). Calling an empty method pointer is a no-op,
// but callers test Assigned() first, as the owners of events do.
//
// A pointer to a virtual member function dispatches through the virtual table,
// so binding a base-class member to a derived object calls the override.
#pragma once

#include <functional>
#include <utility>

namespace vela {

template <typename... Args> class TMethod {
public:
  TMethod() = default;

  template <class C>
  TMethod(C* object, void (C::*method)(Args...))
      : FData(object),
        FCode([object, method](Args... args) { (object->*method)(std::forward<Args>(args)...); }) {}

  bool Assigned() const { return static_cast<bool>(FCode); }
  explicit operator bool() const { return Assigned(); }
  void Clear() {
    FData = nullptr;
    FCode = nullptr;
  }
  // The object the method is bound to (nullptr when empty).
  void* Data() const { return FData; }

  void operator()(Args... args) const {
    if (FCode)
      FCode(std::forward<Args>(args)...);
  }

private:
  void* FData = nullptr;
  std::function<void(Args...)> FCode;
};

// MakeMethod(this, &TFoo::Bar) deduces the parameter list.
template <class C, typename... Args>
TMethod<Args...> MakeMethod(C* object, void (C::*method)(Args...)) {
  return TMethod<Args...>(object, method);
}

} // namespace vela
