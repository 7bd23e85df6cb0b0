// The browser control against pages served on 127.0.0.1.
#include "LogPageTestSupport.h"
#include "logpage/untWebBrowser.h"

#include <QUrl>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace velatest;
using vela::EWebBrowser;
using vela::TWebBrowser;

namespace {

class WebBrowserTest : public testing::Test {
protected:
  void SetUp() override {
    Browser = std::make_unique<TWebBrowser>();
    Browser->resize(1000, 700);
    Browser->show();
    QObject::connect(Browser.get(), &TWebBrowser::DocumentComplete, [this] { ++Reports; });
  }
  void TearDown() override { Browser.reset(); }

  std::unique_ptr<TWebBrowser> Browser;
  int Reports = 0;
};

TEST_F(WebBrowserTest, TakesAddressesAsAnAddressBarDoes) {
  WriteStaticPage("plain.html", "<html><body><p id=p>plain</p></body></html>");
  const std::string Port = std::to_string(ServerPort());
  struct {
    std::string Address;
    QString Host;
  } Cases[] = {
      {"http://127.0.0.1:" + Port + "/static/plain.html", "127.0.0.1"},
      {"127.0.0.1:" + Port + "/static/plain.html", "127.0.0.1"},
      {"localhost:" + Port + "/static/plain.html", "localhost"},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Address);
    ASSERT_TRUE(LoadAndWait(*Browser, Case.Address, 1));
    EXPECT_EQ(Browser->url().scheme(), "http");
    EXPECT_EQ(Browser->url().host(), Case.Host);
    EXPECT_EQ(RunScript(*Browser, "document.getElementById('p').textContent").toString(), "plain");
  }
}

TEST_F(WebBrowserTest, ReportsEveryFrameAndThePage) {
  ASSERT_TRUE(LoadAndWait(*Browser, ServerUrl("/"), 3));
  // Only the left frame navigates: no page load, but one more document.
  const int Before = Reports;
  RunScript(*Browser, "window.frames['left_frame'].location.href = '/log_add?call=X'; 0");
  ASSERT_TRUE(WaitUntil([&] { return Reports > Before; }));
  EXPECT_EQ(
      RunScript(*Browser, "window.frames['left_frame'].document.forms[0].call_rx.value").toString(),
      "X");
}

TEST_F(WebBrowserTest, GoBackWithoutHistoryFailsAndWithHistoryReturns) {
  EXPECT_THROW(Browser->GoBack(), EWebBrowser);
  WriteStaticPage("first.html", "<html><body>first</body></html>");
  WriteStaticPage("second.html", "<html><body>second</body></html>");
  ASSERT_TRUE(LoadAndWait(*Browser, ServerUrl("/static/first.html"), 1));
  ASSERT_TRUE(LoadAndWait(*Browser, ServerUrl("/static/second.html"), 1));
  Browser->GoBack();
  EXPECT_TRUE(WaitUntil([&] { return Browser->url().path().endsWith("first.html"); }));
}

TEST_F(WebBrowserTest, IsolatedWorldIsInvisibleToThePage) {
  WriteStaticPage("isolated.html",
                  "<html><body><script>window.pageVar = 1;</script></body></html>");
  ASSERT_TRUE(LoadAndWait(*Browser, ServerUrl("/static/isolated.html"), 1));
  RunScript(*Browser, "window.programVar = 2; 0");
  EXPECT_EQ(RunScript(*Browser, "typeof window.pageVar").toString(), "undefined");
  EXPECT_EQ(RunMainWorld(*Browser, "typeof window.programVar").toString(), "undefined");
}

TEST_F(WebBrowserTest, ScriptAnswersComeFromTheEventLoopInOrder) {
  // A handler that reads the document returns at once; each answer comes
  // later from the event loop, never inside a handler, in call order.
  int Depth = 0, Calls = 0, AnsweredInside = 0;
  std::vector<int> Order;
  QObject::connect(Browser.get(), &TWebBrowser::DocumentComplete, [&] {
    ++Depth;
    const int Call = Calls++;
    Browser->CallScript("document.readyState", [&, Call](bool Answered, const QVariant&) {
      AnsweredInside += Depth > 0 || !Answered;
      Order.push_back(Call);
    });
    --Depth;
  });
  ASSERT_TRUE(LoadAndWait(*Browser, ServerUrl("/"), 3));
  EXPECT_TRUE(WaitUntil([&] { return Order.size() >= 3u && Order.size() == std::size_t(Calls); }));
  EXPECT_EQ(AnsweredInside, 0);
  for (std::size_t i = 0; i < Order.size(); ++i)
    EXPECT_EQ(Order[i], static_cast<int>(i));
}

} // namespace
