// Consumers of several kinds under one number sequence.
#include "platform/untConsumers.h"

#include <functional>
#include <memory>
#include <string>

#include <gtest/gtest.h>

using namespace vela;

namespace {

using TTextConsumer = std::function<void(const std::string&)>;
using TTick = std::function<void()>;

// One number removes a consumer of either kind; a consumer that removes
// another while called keeps it from being called in that round (its owner
// may be gone); one that removes itself finishes its call; one added while
// called is called from the next round on.
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
  EXPECT_EQ(Heard, "1a");
  Consumers.Call<TTextConsumer>(std::string("b"));
  EXPECT_EQ(Heard, "1a1b");

  Consumers.Remove(Tick);
  Consumers.Call<TTick>();
  EXPECT_EQ(Heard, "1a1b");
  Consumers.Clear();
  Consumers.Call<TTextConsumer>(std::string("c"));
  EXPECT_EQ(Heard, "1a1b");

  // A consumer owning state it frees when it removes itself, and one adding
  // another.
  int Self = 0;
  auto Owned = std::make_shared<std::string>("s");
  Self = Consumers.Add(TTextConsumer([&, Owned](const std::string& Text) {
    Consumers.Remove(Self);
    Heard += *Owned + Text; // still whole: the call runs on a copy
  }));
  Owned.reset();
  Consumers.Add(TTextConsumer([&](const std::string& Text) {
    Heard += "3" + Text;
    Consumers.Add(TTextConsumer([&](const std::string& Later) { Heard += "4" + Later; }));
  }));
  Consumers.Call<TTextConsumer>(std::string("d"));
  EXPECT_EQ(Heard, "1a1bsd3d");
  Heard.clear();
  Consumers.Call<TTextConsumer>(std::string("e"));
  EXPECT_EQ(Heard, "3e4e");
}

} // namespace
