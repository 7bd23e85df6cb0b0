// Sharing on the rigctld radio's own port of this computer is refused, with
// the reason; everything else may share.
#include "sharing/untSharingPortCheck.h"

#include <QHostInfo>
#include <gtest/gtest.h>

using namespace vela;

TEST(SharingPortCheck, RefusesOnlyTheRigctldRadiosOwnPortOfThisComputer) {
  const std::string Own = QHostInfo::localHostName().toStdString();
  const std::string Refused =
      "sharing port 4532 is the rigctld radio's own port; choose another, such as 4533";
  const struct {
    std::int32_t Port;
    TRadioType Radio;
    std::string Address;
    std::string Expected;
  } Cases[] = {
      {4532, rtRigctld, "LocalHost", Refused}, // the default port
      {4532, rtRigctld, "127.0.0.2:4532", Refused},
      {4532, rtRigctld, "[::1]:4532", Refused},
      {4532, rtRigctld, Own + ":4532", Refused},
      {65535, rtRigctld, "localhost:65535",
       "sharing port 65535 is the rigctld radio's own port; choose another, such as 65534"},
      {4533, rtRigctld, "localhost:4532", ""},
      {4532, rtRigctld, "shack-pc.invalid:4532", ""},
      {4532, rtRigctld, "192.0.2.7:4532", ""},
      {4532, rtRigctld, "localhost:notaport", ""},
      {4532, rtFT950, "localhost:4532", ""},
  };
  for (const auto& Case : Cases)
    EXPECT_EQ(SharingPortConflict(Case.Port, Case.Radio, Case.Address), Case.Expected)
        << Case.Port << " " << Case.Address << " radio " << int{Case.Radio};
}
