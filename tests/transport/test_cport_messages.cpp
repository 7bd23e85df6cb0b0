// The numbered messages of EComPort, in English and from a "cport" catalogue.
#include "cat/transport/CPort.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <fstream>
#include <string>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

using namespace vela;

TEST(ComPortMessages, EnglishTextsWithAndWithoutTheSuffix) {
  struct {
    int Code, System;
    const char* Text;
  } Cases[] = {
      {1, 2, "Unable to open com port: No such file or directory (error 2)"},
      {1, 13, "Unable to open com port: Permission denied (error 13)"},
      {2, 110, "WriteFile function failed: Connection timed out (error 110)"},
      {3, 5, "ReadFile function failed: Input/output error (error 5)"},
      {4, -1, "Invalid Async parameter"},
      {7, 25, "SetCommState function failed: Inappropriate ioctl for device (error 25)"},
      {10, 0, "ClearCommError function failed: Success (error 0)"},
      {12, -1, "EscapeCommFunction function failed"},
      {14, -1, "Cannot set property while connected"},
      {19, -1, "Cannot change led state if ComPort is selected"},
      {23, 16, "Registry error: Device or resource busy (error 16)"},
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
     << "msgid \": %s (error %d)\"\nmsgstr \"" << Suffix << "\"\n";
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

// The system's own text for an error, in the language the C library uses now.
std::string Reason(int Errno) {
  return std::generic_category().message(Errno);
}

TEST_F(ComPortCatalogueTest, TranslatedTextsComeFromTheCatalogue) {
  ASSERT_TRUE(BuildCatalogue(FDir, " (%s, Systemfehler %d)"));
  EComPort::SetCatalogueDir(FDir);
  EXPECT_EQ(EComPort(1, 2).Message(),
            "COM-Port kann nicht geöffnet werden (" + Reason(2) + ", Systemfehler 2)");
  EXPECT_EQ(EComPort(14).Message(), "Eigenschaft kann bei offener Verbindung nicht gesetzt werden");
  // A text the catalogue lacks stays English, with the translated suffix.
  EXPECT_EQ(EComPort(2, 5).Message(),
            "WriteFile function failed (" + Reason(5) + ", Systemfehler 5)");
}

TEST_F(ComPortCatalogueTest, WithoutACatalogueTheEnglishTextStands) {
  EComPort::SetCatalogueDir(FDir); // an empty folder
  EXPECT_EQ(EComPort(1, 2).Message(), "Unable to open com port: " + Reason(2) + " (error 2)");
}

TEST_F(ComPortCatalogueTest, ASuffixWithOtherConversionsIsNotFormatted) {
  // msgfmt accepts this without --check-format; the message must still be
  // built safely, and the number still put in.
  ASSERT_TRUE(BuildCatalogue(FDir, " (%x Fehler %n: %s, %d)"));
  EComPort::SetCatalogueDir(FDir);
  EXPECT_EQ(EComPort(1, 2).Message(),
            "COM-Port kann nicht geöffnet werden (%x Fehler %n: " + Reason(2) + ", 2)");
  // One that lacks the text or the number gives the English suffix instead.
  ASSERT_TRUE(BuildCatalogue(FDir + "/other", " (Fehler %d)"));
  EComPort::SetCatalogueDir(FDir + "/other");
  EXPECT_EQ(EComPort(1, 2).Message(),
            "COM-Port kann nicht geöffnet werden: " + Reason(2) + " (error 2)");
}
