// Consumers of several kinds under one number sequence.
#include "platform/untConsumers.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

using namespace vela;

namespace {

using TTextConsumer = std::function<void(const std::string&)>;
using TTick = std::function<void()>;

// One number removes a consumer of either kind; a consumer that removes
// itself and another while called does not stop the call under way, and
// neither is called again.
TEST(Consumers, OneNumberSequenceAndRemovalWhileCalled) {
  TConsumers<TTextConsumer, TTick> Consumers;
  std::string Heard;
  int Second = 0;
  const int First = Consumers.Add(TTextConsumer([&](const std::string& Text) {
    Heard += "1" + Text;
    Consumers.Remove(Second);
  }));
  const int Tick = Consumers.Add(TTick([&] { Heard += "t"; }));
  Second = Consumers.Add(TTextConsumer([&](const std::string& Text) { Heard += "2" + Text; }));
  EXPECT_NE(First, Tick);
  EXPECT_NE(Tick, Second);

  Consumers.Call<TTextConsumer>(std::string("a"));
  EXPECT_EQ(Heard, "1a2a");
  Consumers.Call<TTextConsumer>(std::string("b"));
  EXPECT_EQ(Heard, "1a2a1b");

  Consumers.Remove(Tick);
  Consumers.Call<TTick>();
  EXPECT_EQ(Heard, "1a2a1b");
  Consumers.Clear();
  Consumers.Call<TTextConsumer>(std::string("c"));
  EXPECT_EQ(Heard, "1a2a1b");
}

} // namespace
