// Consumers of an owner's events, of several kinds, each a std::function
// type of its own: added under one number sequence, so that one number
// removes a consumer of any kind, and called in the order added.
//
// A consumer may add or remove consumers (itself too) while it is called: one
// removed during a round of calls is not called in that round (its owner may
// be gone), one added is called from the next round on.
#pragma once

#include <map>
#include <tuple>
#include <utility>

namespace vela {

template <typename... TFunctions> class TConsumers {
public:
  // The number returned removes the consumer again.
  template <typename TFunction> int Add(TFunction Consumer) {
    Of<TFunction>().emplace(++FLastId, std::move(Consumer));
    return FLastId;
  }
  void Remove(int Id) {
    std::apply([Id](auto&... Kind) { (Kind.erase(Id), ...); }, FKinds);
  }
  void Clear() {
    std::apply([](auto&... Kind) { (Kind.clear(), ...); }, FKinds);
  }
  template <typename TFunction, typename... TArgs> void Call(const TArgs&... Args) const {
    const std::map<int, TFunction>& Live = Of<TFunction>();
    const int Last = FLastId;
    for (auto It = Live.begin(); It != Live.end() && It->first <= Last;) {
      const int Id = It->first;
      // A copy runs: the consumer may remove itself while it is called.
      const TFunction Consumer = It->second;
      Consumer(Args...);
      It = Live.upper_bound(Id);
    }
  }

private:
  template <typename TFunction> std::map<int, TFunction>& Of() {
    return std::get<std::map<int, TFunction>>(FKinds);
  }
  template <typename TFunction> const std::map<int, TFunction>& Of() const {
    return std::get<std::map<int, TFunction>>(FKinds);
  }

  std::tuple<std::map<int, TFunctions>...> FKinds;
  int FLastId = 0;
};

} // namespace vela
