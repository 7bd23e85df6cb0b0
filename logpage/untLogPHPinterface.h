// The log page bridge: finds the logbook's entry form in the page that the
// browser shows, writes texts into its fields by field number, and tells its
// owner which frequency and mode a freshly loaded page shows.
//
// The page contract: a frame whose window name is "left_frame" holds a form
// named "log_add" (both names compared exactly) with fields named, without
// regard to ASCII case, "log_date", "log_time", "call_rx", "log_band",
// "log_freq" and "log_mode" (field numbers 0 to 5). Only where the fields are
// is remembered, never their values.
#pragma once

#include "cat/radios/untPageFields.h"
#include "logpage/untWebBrowser.h"
#include "logpage/untWrittenValues.h"
#include "platform/untEvents.h"
#include "platform/untObject.h"

#include <QPointer>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vela {

// (Sender, Frequency, Mode)
using TPageDataEvent = TMethod<TObject*, std::string, std::string>;
// (Sender): a walk found an entry form that no earlier walk had seen.
using TFreshFormEvent = TMethod<TObject*>;

class TLogPHPinterface : public TObject {
public:
  static constexpr int FieldCount = PageFieldCount;
  using TFieldIndex = std::array<int32_t, FieldCount>;

  explicit TLogPHPinterface(TWebBrowser* ABrowser);
  ~TLogPHPinterface() override;

  // Writes Value into field FieldNo of the form found by the last walk. Does
  // nothing for an unknown or unfound field; any failure is swallowed.
  void SetLogField(uint8_t FieldNo, const std::string& Value);
  // Starts a walk of the loaded page for the entry form and its fields and
  // returns at once. When the page answers, the walk ends: it remembers the
  // positions found and raises OnPageData when it counts as a change. Walks
  // end in the order they were started. A walk whose page cannot be reached
  // (the document, its frames, a frame's document, the forms or the form's
  // elements) or that gets no answer within the browser's script time-out
  // throws EWebBrowser from the event loop, which shows it in the error box;
  // the remembered positions then stay as they were. Throws at once when
  // there is no browser.
  void ScanLogPage();
  // Writes each (field name, value) into the form found by the last walk,
  // by name (ASCII case-insensitive; any field of the form, not only the six),
  // and presses its submit control when Submit. OnDone(Filled) follows from
  // the event loop: false when that form is gone (the page moved on) or no
  // form was found. Held fields are written all the same.
  void FillForm(const std::vector<std::pair<std::string, std::string>>& Values, bool Submit,
                std::function<void(bool)> OnDone);
  // Fields (bit n: field number n) that SetLogField leaves alone until a
  // walk finds the form of a page loaded anew, or no form.
  void HoldFields(uint32_t Mask) { FHeldFields |= Mask; }
  uint32_t HeldFields() const { return FHeldFields; }
  // Whether the last walk that ended found the entry form.
  bool FormFound() const { return FFormFound; }
  const TFreshFormEvent& OnFreshForm() const { return FOnFreshForm; }
  void setOnFreshForm(const TFreshFormEvent& Value) { FOnFreshForm = Value; }

  // Whether the frequency (mode) the last walk that ended handed on is not
  // the page's own: the very value the program wrote into that field of that
  // form (the radio's report, a contact), untouched since; any value of a
  // form the history restored (Back, Forward); or, in a page loaded again, a
  // value the program wrote into that field before.
  bool FrequencyWritten() const { return FFrequencyWritten; }
  bool ModeWritten() const { return FModeWritten; }
  // Whether the form the last walk found is one the history restored.
  bool Restored() const { return FRestored; }

  // Whether a walk has been started that has not ended yet.
  bool Walking() const { return FLastEndedWalk < FLastWalk; }

  const TPageDataEvent& OnPageData() const { return FOnPageData; }
  void setOnPageData(const TPageDataEvent& Value) { FOnPageData = Value; }

  // Each field's position in the form's elements, -1 when not found.
  const TFieldIndex& FieldIndex() const { return FFieldIndex; }
  // Whether a walk has found an entry form whose elements writes go to.
  bool HasElements() const { return FElements != 0; }

private:
  QPointer<TWebBrowser> FBrowser;
  TPageDataEvent FOnPageData;
  TFreshFormEvent FOnFreshForm;
  TFieldIndex FFieldIndex;
  bool FFormFound = false;
  bool FFrequencyWritten = false;
  bool FModeWritten = false;
  bool FRestored = false;
  TWrittenValues FWrittenValues;
  uint32_t FHeldFields = 0;
  // The elements collection of the last form found, kept inside the page's
  // isolated script world; this is the number of the walk that stored it
  // (0: none), so a write never reaches a collection from another walk.
  int64_t FElements = 0;
  int64_t FLastWalk = 0;
  int64_t FLastEndedWalk = 0;
  // Answers that come after the bridge is freed find this gone.
  std::shared_ptr<int> FAlive = std::make_shared<int>(0);

  void WalkAnswered(int64_t Walk, bool Answered, const QVariant& Result);
};

} // namespace vela
