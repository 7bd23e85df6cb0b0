// The reply-length learner, by table: each case feeds replies in order and
// then asks for the expected lengths.
#include "cat/untReplyLengths.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace vela;

namespace {

struct TReply {
  std::string Command;
  int Bytes;
  bool Complete = true;
};

} // namespace

TEST(ReplyLengths, LearntByTable) {
  const int Max = TReplyLengths::MaxReplyLength;
  const struct {
    const char* Case;
    std::vector<TReply> Replies;
    std::vector<std::pair<std::string, int>> Want;
  } Cases[] = {
      {"never seen", {}, {{"FA;", 0}}},
      {"one reply is no norm yet", {{"FA;", 14}}, {{"FA;", 0}}},
      {"two equal replies confirm", {{"FA;", 14}, {"FA;", 14}}, {{"FA;", 14}}},
      {"two different do not", {{"FA;", 14}, {"FA;", 9}}, {{"FA;", 0}}},
      {"the second of a new pair confirms", {{"FA;", 14}, {"FA;", 9}, {"FA;", 9}}, {{"FA;", 9}}},
      {"a confirmed length that changes is unknown",
       {{"FA;", 14}, {"FA;", 14}, {"FA;", 12}},
       {{"FA;", 0}}},
      {"a reply cut short forgets it",
       {{"FA;", 14}, {"FA;", 14}, {"FA;", 14, false}, {"FA;", 14}},
       {{"FA;", 0}}},
      {"no reply (a set command) forgets it",
       {{"FA;", 14}, {"FA;", 14}, {"FA;", 0}, {"FA;", 14}},
       {{"FA;", 0}}},
      {"the largest reply counts", {{"IF;", Max}, {"IF;", Max}}, {{"IF;", Max}}},
      {"a flood never does", {{"IF;", Max + 1}, {"IF;", Max + 1}}, {{"IF;", 0}}},
      {"commands are kept apart",
       {{"FA;", 14}, {"MD;", 4}, {"FA;", 14}, {"MD;", 4}, {"MD;", 5}},
       {{"FA;", 14}, {"MD;", 0}}},
  };
  for (const auto& C : Cases) {
    TReplyLengths Lengths;
    for (const TReply& R : C.Replies)
      Lengths.Learn(R.Command, R.Bytes, R.Complete);
    for (const auto& [Command, Bytes] : C.Want)
      EXPECT_EQ(Lengths.Expected(Command), Bytes) << C.Case << ": " << Command;
  }
}

TEST(ReplyLengths, TheOldestCommandMakesRoom) {
  TReplyLengths Lengths;
  const auto Command = [](std::size_t I) { return "C" + std::to_string(I) + ";"; };
  for (std::size_t I = 0; I <= TReplyLengths::MaxKnownReplies; ++I) {
    Lengths.Learn(Command(I), 7, true);
    Lengths.Learn(Command(I), 7, true);
  }
  EXPECT_EQ(Lengths.Expected(Command(0)), 0);
  for (std::size_t I = 1; I <= TReplyLengths::MaxKnownReplies; ++I)
    EXPECT_EQ(Lengths.Expected(Command(I)), 7) << Command(I);
}
