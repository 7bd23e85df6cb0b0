#include "logpage/untLogPHPinterface.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QTimer>

namespace vela {

namespace {

// The six fields' names, in field order, as a script's array.
QString PageFieldNamesJson() {
  QJsonArray Names;
  for (const char* Name : PageFieldNames)
    Names.append(QString::fromLatin1(Name));
  return QString::fromUtf8(QJsonDocument(Names).toJson(QJsonDocument::Compact));
}

// The walk, run in the top frame's isolated world. Every DOM property is read
// through the prototypes of this world, so elements named "forms",
// "elements" or "name" inside the page cannot shadow them. A failure to reach
// the document, a frame, the forms or the elements ends the walk with an
// error; a failure on one element's name skips that element; a failure on a
// value gives an empty text. When the form is found its elements collection
// is kept in this world's global object under the walk's number (the last
// few walks), for the writes that follow.
const char* const WalkScript = R"JS(
(function (walk, NAMES) {
  "use strict";
  var KEY = "__velaLogElements";
  var FORMS = "__velaLogForms";
  var SEEN = "__velaLogSeen";
  var WROTE = "__velaLogWrote";
  function getter(proto, name) { return Object.getOwnPropertyDescriptor(proto, name).get; }
  var docForms = getter(Document.prototype, "forms");
  var formElements = getter(HTMLFormElement.prototype, "elements");
  var collLength = getter(HTMLCollection.prototype, "length");
  var collItem = HTMLCollection.prototype.item;
  var getAttr = Element.prototype.getAttribute;
  function lowerAscii(s) {
    return s.replace(/[A-Z]/g, function (c) { return String.fromCharCode(c.charCodeAt(0) + 32); });
  }
  var stage = "document";
  try {
    var top = window;
    if (!(top.document instanceof HTMLDocument)) throw new Error("not an HTML document");
    stage = "frames";
    var frameCount = top.length;
    var frameDoc = null;
    var navType = "";
    for (var i = 0; i < frameCount; i++) {
      var w = top[i];
      if (w.name === "left_frame") {
        stage = "frame document";
        var d = w.document;
        if (!d) throw new Error("no document");
        frameDoc = d;
        // How the frame's document came: "back_forward" for a page the
        // history restored (its form as it was left), "reload" for one
        // loaded again.
        try {
          var nav = w.performance.getEntriesByType("navigation");
          if (nav.length > 0) navType = String(nav[0].type);
        } catch (e) {}
        stage = "frames";
      }
    }
    var found = [-1, -1, -1, -1, -1, -1];
    var formFound = false;
    var els = null;
    var lastForm = null;
    var fresh = false;
    if (frameDoc !== null) {
      stage = "forms";
      var forms = docForms.call(frameDoc);
      var formCount = collLength.call(forms);
      for (var j = 0; j < formCount; j++) {
        var form = collItem.call(forms, j);
        if (getAttr.call(form, "name") === "log_add") {
          stage = "form elements";
          els = formElements.call(form);
          lastForm = form;
          formFound = true;
          stage = "forms";
        }
      }
    }
    if (formFound) {
      stage = "form elements";
      var count = collLength.call(els);
      for (var k = 0; k < count; k++) {
        try {
          var name = getAttr.call(collItem.call(els, k), "name");
          if (typeof name !== "string") continue;
          var lower = lowerAscii(name);
          var at = NAMES.indexOf(lower);
          if (at >= 0) found[at] = k;
        } catch (e) {}
      }
      // Kept per walk: walks overlap, and writes go to the collection of the
      // walk whose positions they use until its answer has been handled.
      var kept = Object.prototype.hasOwnProperty.call(top, KEY) ? top[KEY] : null;
      if (!kept) { kept = Object.create(null); top[KEY] = kept; }
      kept[walk] = els;
      for (var w in kept) if (+w < walk - 16) delete kept[w];
      // A form no earlier walk has seen belongs to a page loaded anew. The
      // mark lives in this world only; the page cannot see or set it.
      fresh = lastForm[SEEN] !== true;
      lastForm[SEEN] = true;
      var forms = Object.prototype.hasOwnProperty.call(top, FORMS) ? top[FORMS] : null;
      if (!forms) { forms = Object.create(null); top[FORMS] = forms; }
      forms[walk] = lastForm;
      for (var f in forms) if (+f < walk - 16) delete forms[f];
    }
    // A field's value, and whether it is the very value the program wrote
    // into that element (the page or the operator has not changed it since).
    var wrote = Object.prototype.hasOwnProperty.call(top, WROTE) ? top[WROTE] : null;
    function fieldAt(pos) {
      if (pos < 0) return { value: "", own: false };
      try {
        var el = collItem.call(els, pos);
        var v = el.value;
        if (typeof v !== "string") v = "";
        return { value: v, own: wrote !== null && wrote.has(el) && wrote.get(el) === v };
      } catch (e) { return { value: "", own: false }; }
    }
    var freq = fieldAt(found[4]), mode = fieldAt(found[5]);
    return JSON.stringify({ ok: true, formFound: formFound, fresh: fresh, pos: found,
                            freq: freq.value, mode: mode.value,
                            freqOwn: freq.own, modeOwn: mode.own, navType: navType });
  } catch (e) {
    var msg = "";
    try { msg = String(e && e.message ? e.message : e); } catch (e2) {}
    return JSON.stringify({ ok: false, stage: stage, error: msg });
  }
})(%1, %2)
)JS";

// A write by position into the collection kept by walk number `walk`. Only
// an own property of this world's global counts: a page element or frame
// with the same name is not this world's object.
const char* const WriteScript = R"JS(
(function (walk, pos, value) {
  "use strict";
  try {
    var KEY = "__velaLogElements";
    if (!Object.prototype.hasOwnProperty.call(window, KEY)) return;
    var kept = window[KEY];
    var els = kept ? kept[walk] : null;
    if (!els) return;
    var el = HTMLCollection.prototype.item.call(els, pos);
    if (el) { el.value = value; %4 }
  } catch (e) {}
})(%1, %2, %3[0])
)JS";

// Writes values into the fields of the form kept by walk number `walk` by
// their names (ASCII case-insensitive; of several equal names the last), then
// presses the form's first submit control (or submits it) when asked.
// Answers false when that form is no longer the one its frame shows.
const char* const FillScript = R"JS(
(function (walk, pairs, submit) {
  "use strict";
  try {
    var KEY = "__velaLogForms";
    if (!Object.prototype.hasOwnProperty.call(window, KEY)) return false;
    var form = window[KEY] ? window[KEY][walk] : null;
    if (!form) return false;
    var doc = form.ownerDocument;
    if (!doc || !doc.defaultView || !form.isConnected) return false;
    var getAttr = Element.prototype.getAttribute;
    var formElements = Object.getOwnPropertyDescriptor(HTMLFormElement.prototype, "elements").get;
    var collLength = Object.getOwnPropertyDescriptor(HTMLCollection.prototype, "length").get;
    var collItem = HTMLCollection.prototype.item;
    function lowerAscii(s) {
      return s.replace(/[A-Z]/g, function (c) { return String.fromCharCode(c.charCodeAt(0) + 32); });
    }
    var els = formElements.call(form);
    var count = collLength.call(els);
    var byName = Object.create(null);
    var submitter = null;
    for (var k = 0; k < count; k++) {
      var el = collItem.call(els, k);
      var name = getAttr.call(el, "name");
      if (typeof name === "string") byName[lowerAscii(name)] = el;
      var tag = String(el.tagName).toUpperCase();
      var type = String(getAttr.call(el, "type") || (tag === "BUTTON" ? "submit" : "")).toLowerCase();
      if (!submitter && (tag === "INPUT" || tag === "BUTTON") && (type === "submit" || type === "image"))
        submitter = el;
    }
    for (var i = 0; i < pairs.length; i++) {
      var target = byName[lowerAscii(pairs[i][0])];
      if (target) { target.value = pairs[i][1]; var el = target; %4 }
    }
    if (submit) {
      if (submitter) submitter.click();
      else HTMLFormElement.prototype.submit.call(form);
    }
    return true;
  } catch (e) { return false; }
})(%1, %2, %3)
)JS";

// Notes in this world which value the program wrote into element `el` (as
// the element took it), so that a walk can tell the program's own values
// from what the page brought. The map holds the elements, so each keeps the
// one wrapper object it is known by; elements gone from their page are
// dropped once it grows.
const char* const MarkWritten = R"JS(
    (function (el) {
      var KEY = "__velaLogWrote";
      var m = Object.prototype.hasOwnProperty.call(window, KEY) ? window[KEY] : null;
      if (!m) { m = new Map(); window[KEY] = m; }
      m.set(el, String(el.value));
      if (m.size > 64) m.forEach(function (v, k) { if (!k.isConnected) m.delete(k); });
    })(el);
)JS";

const char* const ReleaseScript = R"JS(
(function () {
  try {
    delete window.__velaLogElements; delete window.__velaLogForms; delete window.__velaLogWrote;
  } catch (e) {}
})()
)JS";

// JSON text is a JavaScript literal, so quotes, backslashes, line breaks and
// markup stay data; the two line separators JSON allows raw are escaped.
QString JsonLiteral(const QJsonArray& Array) {
  QString Json = QString::fromUtf8(QJsonDocument(Array).toJson(QJsonDocument::Compact));
  Json.replace(QChar(0x2028), QStringLiteral("\\u2028"));
  Json.replace(QChar(0x2029), QStringLiteral("\\u2029"));
  return Json;
}

QString Utf8(const std::string& Text) {
  return QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()));
}

// Value as a JSON array holding one string.
QString ScriptLiteral(const std::string& Value) {
  return JsonLiteral(QJsonArray{Utf8(Value)});
}

// Name and value pairs as a JSON array of two-string arrays.
QString PairsLiteral(const std::vector<std::pair<std::string, std::string>>& Pairs) {
  QJsonArray Array;
  for (const auto& [Name, Value] : Pairs)
    Array.append(QJsonArray{Utf8(Name), Utf8(Value)});
  return JsonLiteral(Array);
}

std::string ToBytes(const QJsonValue& Value) {
  const QByteArray Utf8 = Value.toString().toUtf8();
  return std::string(Utf8.constData(), static_cast<size_t>(Utf8.size()));
}

} // namespace

TLogPHPinterface::TLogPHPinterface(TWebBrowser* ABrowser) : FBrowser(ABrowser) {
  FFieldIndex.fill(-1);
}

TLogPHPinterface::~TLogPHPinterface() {
  FOnPageData.Clear();
  FOnFreshForm.Clear();
  if (FElements != 0 && FBrowser)
    FBrowser->PostScript(QString::fromUtf8(ReleaseScript));
  FElements = 0;
}

void TLogPHPinterface::SetLogField(uint8_t FieldNo, const std::string& Value) {
  const int32_t Position = FieldNo < FieldCount ? FFieldIndex[FieldNo] : -1;
  if (FieldNo < FieldCount && (FHeldFields & (1u << FieldNo)) != 0)
    return;
  if (Position < 0 || FElements == 0 || !FBrowser)
    return;
  FWrittenValues.Note(FieldNo, Value);
  try {
    FBrowser->PostScript(QString::fromUtf8(WriteScript)
                             .arg(QString::number(FElements), QString::number(Position),
                                  ScriptLiteral(Value), QString::fromUtf8(MarkWritten)));
  } catch (...) {
  }
}

void TLogPHPinterface::FillForm(const std::vector<std::pair<std::string, std::string>>& Values,
                                bool Submit, std::function<void(bool)> OnDone) {
  if (!FFormFound || FElements == 0 || !FBrowser) {
    if (OnDone)
      QTimer::singleShot(0, [OnDone] { OnDone(false); });
    return;
  }
  for (const auto& [Name, Value] : Values)
    FWrittenValues.Note(Name, Value);
  std::weak_ptr<int> Alive = FAlive;
  // One pass over the place markers: the values may hold "%3" themselves.
  FBrowser->CallScript(QString::fromUtf8(FillScript)
                           .arg(QString::number(FElements), PairsLiteral(Values),
                                Submit ? QStringLiteral("true") : QStringLiteral("false"),
                                QString::fromUtf8(MarkWritten)),
                       [Alive, OnDone](bool Answered, const QVariant& Result) {
                         if (!Alive.expired() && OnDone)
                           OnDone(Answered && Result.toBool());
                       });
}

void TLogPHPinterface::ScanLogPage() {
  if (!FBrowser)
    throw EWebBrowser("Unable to reach the log page: there is no browser");
  const int64_t Walk = ++FLastWalk;
  std::weak_ptr<int> Alive = FAlive;
  FBrowser->CallScript(QString::fromUtf8(WalkScript).arg(Walk).arg(PageFieldNamesJson()),
                       [this, Alive, Walk](bool Answered, const QVariant& Result) {
                         if (!Alive.expired())
                           WalkAnswered(Walk, Answered, Result);
                       });
}

void TLogPHPinterface::WalkAnswered(int64_t Walk, bool Answered, const QVariant& Result) {
  // A walk that ends after a later one (its answer timed out first) changes
  // nothing: the later walk saw the newer page.
  if (Walk <= FLastEndedWalk)
    return;
  FLastEndedWalk = Walk;
  if (!Answered)
    throw EWebBrowser("The page's document did not answer");

  QJsonParseError ParseError{};
  const QJsonDocument Doc = QJsonDocument::fromJson(Result.toString().toUtf8(), &ParseError);
  if (Result.typeId() != QMetaType::QString || ParseError.error != QJsonParseError::NoError ||
      !Doc.isObject())
    throw EWebBrowser("Unable to reach the log page's document");
  const QJsonObject Answer = Doc.object();
  if (!Answer.value("ok").toBool()) {
    std::string Message = "Unable to reach the log page's " +
                          Answer.value("stage").toString("document").toStdString();
    const QString Detail = Answer.value("error").toString();
    if (!Detail.isEmpty())
      Message += ": " + Detail.toStdString();
    throw EWebBrowser(Message);
  }
  const QJsonArray Positions = Answer.value("pos").toArray();
  if (Positions.size() != FieldCount)
    throw EWebBrowser("Unable to reach the log page's document");
  TFieldIndex Found;
  for (int i = 0; i < FieldCount; ++i) {
    const double Position = Positions.at(i).toDouble(-2);
    if (Position < -1 || Position > INT32_MAX)
      throw EWebBrowser("Unable to reach the log page's document");
    Found[i] = static_cast<int32_t>(Position);
  }

  // Every walk that finds the date or time field counts, so that a reload of
  // the same form still hands its frequency and mode on.
  const bool Change = Found != FFieldIndex || Found[0] >= 0 || Found[1] >= 0;
  FFormFound = Answer.value("formFound").toBool();
  if (FFormFound)
    FElements = Walk;
  FFieldIndex = Found;
  // A page loaded anew (or one without the form) holds no field any more.
  const bool Fresh = FFormFound && Answer.value("fresh").toBool();
  if (Fresh || !FFormFound)
    FHeldFields = 0;
  const std::string Frequency = ToBytes(Answer.value("freq"));
  const std::string Mode = ToBytes(Answer.value("mode"));
  // A form the history restored holds what it held when it was left, often a
  // contact the program filled in; one loaded again may get back the values
  // the program wrote into it before. Neither is the logbook asking for a
  // frequency.
  const QString NavigationType = Answer.value("navType").toString();
  FRestored = FFormFound && NavigationType == QStringLiteral("back_forward");
  const bool Reloaded = FFormFound && NavigationType == QStringLiteral("reload");
  FFrequencyWritten = Answer.value("freqOwn").toBool() || FRestored ||
                      (Reloaded && FWrittenValues.Holds(4, Frequency));
  FModeWritten =
      Answer.value("modeOwn").toBool() || FRestored || (Reloaded && FWrittenValues.Holds(5, Mode));
  if (Change && FOnPageData.Assigned())
    FOnPageData(this, Frequency, Mode);
  if (Fresh && FOnFreshForm.Assigned())
    FOnFreshForm(this);
}

} // namespace vela
