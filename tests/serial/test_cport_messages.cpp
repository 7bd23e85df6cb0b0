// The numbered messages of EComPort, in English and from a "cport" catalogue.
#include "serial/CPort.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

using namespace vela;

TEST(ComPortMessages, EnglishTextsWithAndWithoutTheSuffix) {
  struct {
    int Code, System;
    const char* Text;
  } Cases[] = {
      {1, 2, "Unable to open com port (win error code: 2)"},
      {2, 110, "WriteFile function failed (win error code: 110)"},
      {3, 5, "ReadFile function failed (win error code: 5)"},
      {4, -1, "Invalid Async parameter"},
      {7, 25, "SetCommState function failed (win error code: 25)"},
      {10, 0, "ClearCommError function failed (win error code: 0)"},
      {12, -1, "EscapeCommFunction function failed"},
      {14, -1, "Cannot set property while connected"},
      {19, -1, "Cannot change led state if ComPort is selected"},
      {23, 16, "Registry error (win error code: 16)"},
  };
  for (const auto& C : Cases) {
    const EComPort E(C.Code, C.System);
    EXPECT_EQ(E.Message(), C.Text);
    EXPECT_STREQ(E.what(), C.Text);
    EXPECT_EQ(E.ErrorCode(), C.Code);
    EXPECT_EQ(E.SystemErrorCode(), C.System);
  }
  // Every number has a text.
  for (int Code = 1; Code <= 23; ++Code)
    EXPECT_FALSE(EComPort::MessageText(Code).empty()) << Code;
}

namespace {

// Builds <Dir>/de/LC_MESSAGES/cport.mo from a small German catalogue.
bool BuildCatalogue(const std::string& Dir, const std::string& Suffix) {
  const std::string MsgDir = Dir + "/de/LC_MESSAGES";
  if (std::system(("mkdir -p '" + MsgDir + "'").c_str()) != 0)
    return false;
  std::ofstream Po(Dir + "/cport.po");
  Po << "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
     << "msgid \"Unable to open com port\"\nmsgstr \"COM-Port kann nicht geöffnet werden\"\n\n"
     << "msgid \"Cannot set property while connected\"\n"
     << "msgstr \"Eigenschaft kann bei offener Verbindung nicht gesetzt werden\"\n\n"
     << "msgid \" (win error code: %d)\"\nmsgstr \"" << Suffix << "\"\n";
  Po.close();
  const std::string Cmd = "msgfmt -o '" + MsgDir + "/cport.mo' '" + Dir + "/cport.po' 2>/dev/null";
  return std::system(Cmd.c_str()) == 0;
}

class ComPortCatalogueTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (std::system("command -v msgfmt >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "msgfmt is not installed";
    char Template[] = "/tmp/vela-locale-XXXXXX";
    ASSERT_NE(::mkdtemp(Template), nullptr);
    FDir = Template;
    ::setenv("LANGUAGE", "de", 1);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ASSERT_NE(std::setlocale(LC_ALL, ""), nullptr) << "no C.UTF-8 locale";
  }
  void TearDown() override {
    ::unsetenv("LANGUAGE");
    ::unsetenv("LC_ALL");
    std::setlocale(LC_ALL, "C");
    EComPort::SetCatalogueDir("/nonexistent");
    if (!FDir.empty()) [[maybe_unused]]
      int Rc = std::system(("rm -rf '" + FDir + "'").c_str());
  }
  std::string FDir;
};

} // namespace

TEST_F(ComPortCatalogueTest, TranslatedTextsComeFromTheCatalogue) {
  ASSERT_TRUE(BuildCatalogue(FDir, " (Systemfehler: %d)"));
  EComPort::SetCatalogueDir(FDir);
  EXPECT_EQ(EComPort(1, 2).Message(), "COM-Port kann nicht geöffnet werden (Systemfehler: 2)");
  EXPECT_EQ(EComPort(14).Message(), "Eigenschaft kann bei offener Verbindung nicht gesetzt werden");
  // A text the catalogue lacks stays English, with the translated suffix.
  EXPECT_EQ(EComPort(2, 5).Message(), "WriteFile function failed (Systemfehler: 5)");
}

TEST_F(ComPortCatalogueTest, WithoutACatalogueTheEnglishTextStands) {
  EComPort::SetCatalogueDir(FDir); // an empty folder
  EXPECT_EQ(EComPort(1, 2).Message(), "Unable to open com port (win error code: 2)");
}

TEST_F(ComPortCatalogueTest, ASuffixWithOtherConversionsIsNotFormatted) {
  // msgfmt accepts this without --check-format; the message must still be
  // built safely, and the number still put in.
  ASSERT_TRUE(BuildCatalogue(FDir, " (%s Fehler %n: %d)"));
  EComPort::SetCatalogueDir(FDir);
  EXPECT_EQ(EComPort(1, 2).Message(), "COM-Port kann nicht geöffnet werden (%s Fehler %n: 2)");
}
