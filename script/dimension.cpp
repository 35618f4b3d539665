#include "script/dimension.h"

#include <regex.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <ostream>

#include "elements/transform.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/conversion_picture.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr int kSenderQuorix = 4;       // dimension texts end in a blank
constexpr double kAngleShown = 0.001;  // radians; smaller angles are written as none
constexpr double kDirectionFit = 0.001;  // sine of the angle between a leg and its line
// Longest text the patterns are matched against; a longer one (no
// dimension text is that long) is kept whole, so that matching stays cheap.
constexpr std::size_t kSplitLongest = 512;

const char* const kDefaultPatterns[kDimPatternCount] = {
    "(\\( *[0-9]+ *[x*] *\\))",
    "([0-9]+ *[*x] *[.,0-9]+.*=\\)?)$",
    "([0-9]+ *[*x] *[.,0-9]+.*=)",
    "^ *([0-9]+ *[*x]) *[.,0-9]",
    "[.,0-9]([a-zA-Z][0-9]+)([^.]|$)",
    "^[A-Za-z][0-9]+",
    "[-+]?[0-9]*[.,]?[0-9]+",
};

struct ArrowName {
  const char* input;
  const char* kpl;
};
constexpr ArrowName kArrowNames[] = {
    {"NONE", "none"},         {"CLOSED", "empty"},        {"DOT", "point"},        {"CLOSEDBLANK", "empty"},
    {"ARCHTIK", "architekt"}, {"OPEN", "open"},           {"OBLIQUE", "oblique"},  {"ORIGIN", "origin"},
    {"OPEN90", "open90"},     {"OPEN30", "open30"},       {"DOTBLANK", "dotempty"}, {"DOTSMALL", "dotsmall"},
    {"BOXFILLED", "box"},     {"BOXEMPTY", "boxempty"},   {"DATUMFILLED", "tri"},  {"DATUMBLANK", "triemty"},
    {"INTEGRAL", "integral"},
};

bool tracing() { return runSettings().traceLevel > 3; }
void trace(const std::string& line) {
  if (tracing()) std::printf("%s\n", line.c_str());
}

double degrees(double radians) { return radians * 180.0 / kPi; }
double tolerance() { return scriptState().pointTolerance; }

std::string general(double v) {
  char b[64];
  std::snprintf(b, sizeof b, "%-g", v);
  return b;
}

double normalised(double a) {
  if (!std::isfinite(a)) return 0.0;
  a = std::fmod(a, 2.0 * kPi);
  if (a < 0) a += 2.0 * kPi;
  return a;
}
// Distance of two angles on the circle.
double angleApart(double a, double b) {
  const double d = std::fabs(normalised(a) - normalised(b));
  return std::min(d, 2.0 * kPi - d);
}

double transformAngle(const ScriptMatrix* m, double angle) {
  if (!m) return angle;
  const double dx = std::cos(angle), dy = std::sin(angle);
  return std::atan2(m->r[1][0] * dx + m->r[1][1] * dy, m->r[0][0] * dx + m->r[0][1] * dy);
}

// p' = V*(M*p): the element's own matrix first, then the view's.
const ScriptMatrix* combine(const ScriptMatrix* element, const ScriptMatrix* view, ScriptMatrix& out) {
  if (!element && !view) return nullptr;
  if (!element) return view;
  if (!view) return element;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      out.r[i][j] = 0;
      for (int k = 0; k < 3; ++k) out.r[i][j] += view->r[i][k] * element->r[k][j];
    }
    out.t[i] = view->t[i];
    for (int k = 0; k < 3; ++k) out.t[i] += view->r[i][k] * element->t[k];
  }
  return &out;
}

// The compiled patterns of the split; empty when one does not compile.
struct Patterns {
  regex_t re[kDimPatternCount];
  int compiled = 0;
  bool ok = true;
  Patterns() {
    for (int i = 0; i < kDimPatternCount; ++i) {
      const char* p = kDefaultPatterns[i];
      const int rc = regcomp(&re[i], p, REG_EXTENDED);
      if (rc != 0) {
        char why[128];
        regerror(rc, &re[i], why, sizeof why);
        trace("-> regcomp() error !!");
        std::fprintf(stderr, "ses501 : regcomp() error !! pattern '%s': %s\n", p, why);
        ok = false;
        break;
      }
      ++compiled;
    }
  }
  ~Patterns() {
    for (int i = 0; i < compiled; ++i) regfree(&re[i]);
  }
  // The span of group g of the first match, or false.
  bool find(int which, const std::string& text, std::size_t& from, std::size_t& to, int group = 0) {
    regmatch_t m[3];
    if (regexec(&re[which], text.c_str(), 3, m, 0) != 0 || m[group].rm_so < 0) return false;
    from = static_cast<std::size_t>(m[group].rm_so);
    to = static_cast<std::size_t>(m[group].rm_eo);
    return true;
  }
};

std::string trimmed(const std::string& s) {
  const std::size_t a = s.find_first_not_of(' ');
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(' ') - a + 1);
}

bool hasDigit(const std::string& s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void appendPost(ScriptDimTexts& t, const std::string& more) {
  if (more.empty()) return;
  if (!t.post.empty()) trace("-> Zwei Posttexte !!");
  t.post += more;
}

// Splits the joined text into pre-text, value, post-text and fit code.
void splitText(std::string text, ScriptDimTexts& t) {
  if (text.size() > kSplitLongest) {
    trace("-> Masstext zu lang, nicht zerlegt !");
    t.value = text;
    return;
  }
  Patterns p;
  if (!p.ok) {
    t.value = text;  // the split is skipped; the text stays whole
    return;
  }
  std::size_t a = 0, b = 0;
  std::string post;
  if (p.find(kDimPatternRepeatParen, text, a, b)) {
    if (trimmed(text.substr(0, a)).empty()) {
      t.pre += text.substr(0, b);
    } else {
      post = text.substr(a, b - a) + post;
    }
    text.erase(a, b - a);
  }
  if (p.find(kDimPatternRepeatTrail, text, a, b) && a > 0 && hasDigit(text.substr(0, a))) {
    post = text.substr(a) + post;
    text.erase(a);
  }
  if (p.find(kDimPatternRepeatEquals, text, a, b)) {
    t.pre += text.substr(0, b);
    text.erase(0, b);
  } else if (p.find(kDimPatternRepeatCount, text, a, b, 1)) {
    t.pre += text.substr(0, b);
    text.erase(0, b);
  }
  if (p.find(kDimPatternFitAfter, text, a, b, 1)) {
    t.fit = text.substr(a, b - a);
    text.erase(a, b - a);
  } else if (p.find(kDimPatternFitStart, text, a, b) && hasDigit(text.substr(b))) {
    t.fit = text.substr(a, b - a);
    text.erase(a, b - a);
  }
  if (p.find(kDimPatternNumber, text, a, b)) {
    t.pre += text.substr(0, a);
    t.value = text.substr(a, b - a);
    post = text.substr(b) + post;
  } else {
    trace("-> Keine Masszahl gefunden !");
    t.pre += text;
  }
  std::string old = t.post;
  t.post.clear();
  appendPost(t, post);
  appendPost(t, old);
}

bool isDegreeAt(const std::string& s, std::size_t i, std::size_t& length) {
  if (i < s.size() && static_cast<unsigned char>(s[i]) == 0xB0) {
    length = 1;
    return true;
  }
  if (i + 3 <= s.size() && s.compare(i, 2, "%%") == 0 && (s[i + 2] == 'd' || s[i + 2] == 'D')) {
    length = 3;
    return true;
  }
  return false;
}

// Removes a degree sign at the start or at the end of the text.
void dropDegree(std::string& s, const char* what) {
  std::size_t n = 0;
  if (isDegreeAt(s, 0, n)) {
    s.erase(0, n);
  } else if (!s.empty() && isDegreeAt(s, s.size() - 1, n)) {
    s.erase(s.size() - 1);
  } else if (s.size() >= 3 && isDegreeAt(s, s.size() - 3, n) && n == 3) {
    s.erase(s.size() - 3);
  } else {
    return;
  }
  trace(std::string("-> Gradzeichen im ") + what + " wird nicht benoetigt, loeschen");
}

struct Piece {
  std::string text;
  double u = 0, v = 0;  // position along and across the base line
  double height = 0, width = 0;
  const ScriptTextString* source = nullptr;
};

// The number of values that differ by more than tol.
std::size_t distinct(std::vector<double> values, double tol) {
  std::sort(values.begin(), values.end());
  std::size_t n = 0;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i == 0 || values[i] - values[i - 1] > tol) ++n;
  }
  return n;
}

bool isNumber(const std::string& s, double& value) {
  if (s.empty()) return false;
  std::string t = s;
  std::replace(t.begin(), t.end(), ',', '.');
  char* end = nullptr;
  value = std::strtod(t.c_str(), &end);
  return end != nullptr && *end == '\0' && std::isfinite(value);
}

ScriptDimTexts quoted(const ScriptDimTexts& t) {
  ScriptDimTexts q = t;
  q.pre = ScriptQuoteText(DimShownPreText(t.pre));
  q.value = ScriptQuoteText(t.value);
  q.post = ScriptQuoteText(t.post);
  q.upper = ScriptQuoteText(t.upper);
  q.lower = ScriptQuoteText(t.lower);
  q.tolerance = ScriptQuoteText(t.tolerance);
  q.fit = ScriptQuoteText(t.fit);
  q.font = ScriptQuoteText(t.font);
  return q;
}

bool toolkitRun() { return runState().useToolkit != 0; }

// The common statement tail ",<blank>,<colour>,<info>)".
std::string tail(std::int32_t index, const ScriptDimensionRecord& d, const std::string& colour) {
  return "," + ScriptBlank(d.attributes.blank) + "," + colour + "," + ScriptInfoText(index, &d.data) + ")";
}

std::string optionsOf(const ScriptDimensionRecord& d, const ScriptDimTexts& raw,
                      const std::vector<std::string>& extra = {}) {
  return DimOptionsBlock(raw.digits, raw.showZeros, raw.pre, d.witnesses, d.state, d.leaders, extra);
}

// Everything the writers share: the raw texts (for the options) and the
// quoted ones with the "@029" rule applied.
struct Prepared {
  ScriptDimTexts raw, shown;
  std::string colour;
};
Prepared prepare(const ScriptDimensionRecord& d, const ScriptDimTexts& texts) {
  Prepared p;
  p.raw = texts;
  p.shown = quoted(texts);
  DimMoveCode029(p.shown);
  p.colour = ScriptColourText(d.attributes.colour);
  return p;
}

std::string textBlock(const Prepared& p, const ScriptDimensionRecord& d, DimTextForm igesForm) {
  return DimTextBlock(p.shown, toolkitRun() ? DimTextForm::kToolkit : igesForm, p.colour, d.textScale);
}
std::string toleranceBlock(const Prepared& p) {
  return DimToleranceBlock(p.shown.upper, p.shown.lower, p.shown.tolerance, p.shown.fit, toolkitRun());
}
std::string position(const ScriptPointXYZ& q) {
  const double s = scriptState().unitScale;
  return "{" + scriptNumber(q.x * s) + "," + scriptNumber(q.y * s) + "}";
}

}  // namespace

const char* DimArrowName(const std::string& inputArrow) {
  const std::string name = !inputArrow.empty() && inputArrow[0] == '_' ? inputArrow.substr(1) : inputArrow;
  for (const ArrowName& a : kArrowNames) {
    if (name == a.input) return a.kpl;
  }
  return "";
}

ScriptDimTexts DimAnalyseText(const ScriptNoteRecord& note, bool angular) {
  TraceScope t("ses501");
  ScriptDimTexts out;
  std::vector<Piece> pieces;
  for (const ScriptTextString& s : note.strings) {
    if (!s.hasText || s.rejected) continue;
    Piece p;
    p.text = s.text;
    if (runState().senderCode == kSenderQuorix && !p.text.empty() && p.text.back() == ' ') p.text.pop_back();
    p.height = std::isfinite(s.boxHeight) ? s.boxHeight : 0.0;
    p.width = std::isfinite(s.boxWidth) ? s.boxWidth : 0.0;
    p.source = &s;
    pieces.push_back(std::move(p));
  }
  if (pieces.empty()) {
    trace("-> Kein Masstext vorhanden !");
    return out;
  }
  if (tracing()) {
    std::printf("Masstexte :\n");
    for (const Piece& p : pieces) std::printf("   '%s'\n", p.text.c_str());
  }
  const double tol = tolerance();
  // Strings without height are left out, unless no string has a height:
  // the text is then kept and written with the default height.
  const bool anyHeight = std::any_of(pieces.begin(), pieces.end(), [&](const Piece& p) { return p.height > tol; });
  std::vector<Piece> kept;
  for (Piece& p : pieces) {
    if (anyHeight && p.height <= tol) {
      trace("-> Text mit Hoehe 0 entfernt !");
    } else if (p.text.empty()) {
      trace("-> Text mit Laenge 0 entfernt !");
    } else {
      kept.push_back(std::move(p));
    }
  }
  if (kept.empty()) {
    trace("-> Kein Masstext vorhanden !");
    return out;
  }
  // Positions along and across the base line of the first string.
  const double base = std::isfinite(kept[0].source->angle) ? kept[0].source->angle : 0.0;
  const double c = std::cos(base), sn = std::sin(base);
  // The greatest height among the strings (all of them may be 0 or, in a
  // broken file, negative): the string that carries the value has it.
  double highest = kept.front().height;
  for (Piece& p : kept) {
    const double x = std::isfinite(p.source->start.x) ? p.source->start.x : 0.0;
    const double y = std::isfinite(p.source->start.y) ? p.source->start.y : 0.0;
    p.u = x * c + y * sn;
    p.v = -x * sn + y * c;
    highest = std::max(highest, p.height);
    if (angleApart(p.source->angle, base) > tol) trace("-> verschiedene Stringwinkel !");
  }
  const double levelTol = std::max(1000.0 * tol, 0.25 * highest);
  if (tracing()) {
    std::vector<double> vs, hs;
    for (const Piece& p : kept) {
      vs.push_back(p.v);
      hs.push_back(p.height);
    }
    std::printf("-> Levels vergleichen : %zu\n", distinct(vs, levelTol));
    std::printf("-> Anzahl verschiedener Hoehen : %zu\n", distinct(hs, tol));
    std::printf("-> Nach Positionen sortieren (links/rechts, unten/oben) :\n");
  }
  std::stable_sort(kept.begin(), kept.end(), [](const Piece& a, const Piece& b) {
    if (a.u != b.u) return a.u < b.u;
    return a.v < b.v;
  });

  // The first string of full height carries the value; further strings of
  // the same height and level are adjoined when they start at its end, else
  // they are post-text.  Smaller strings are the deviations.
  const Piece* main = nullptr;
  for (const Piece& p : kept) {
    if (p.height >= highest - tol) {
      main = &p;
      break;
    }
  }
  std::string joined = main->text;
  double end = main->u + main->width;
  const double gapTol = std::max(1000.0 * tol, highest);
  std::string post;
  std::vector<const Piece*> small;
  int further = 0;
  for (const Piece& p : kept) {
    if (&p == main) continue;
    if (p.height < highest - tol) {
      trace("-> Test auf Hoch- oder Tieftext");
      small.push_back(&p);
      continue;
    }
    ++further;
    if (post.empty() && std::fabs(p.v - main->v) <= levelTol && std::fabs(p.u - end) <= gapTol) {
      trace(further == 1 ? "-> Texte aneinanderfuegen" : "-> third text adjoinable");
      joined += p.text;
      end = p.u + p.width;
    } else {
      trace(further == 1 ? "-> third text postfixable" : "-> fourth text postfixable");
      post += p.text;
    }
  }
  if (small.size() == 1) {
    const Piece& p = *small[0];
    if (p.v + p.height / 2 > main->v + main->height / 2) {
      out.upper = p.text;
    } else {
      out.lower = p.text;
    }
  } else if (small.size() >= 2) {
    std::vector<const Piece*> byHeight(small.begin(), small.begin() + 2);
    std::sort(byHeight.begin(), byHeight.end(), [](const Piece* a, const Piece* b) { return a->v > b->v; });
    out.upper = byHeight[0]->text;
    out.lower = byHeight[1]->text;
    for (std::size_t i = 2; i < small.size(); ++i) post += small[i]->text;
  }
  out.post = post;
  splitText(joined, out);

  // A plus-minus tolerance written in the text is the tolerance text.
  for (const char* pm : {"%%p", "%%P", "@+-"}) {
    const std::size_t at = out.post.find(pm);
    if (at != std::string::npos && out.tolerance.empty()) {
      out.tolerance = out.post.substr(at);
      out.post.erase(at);
    }
  }
  if (angular) {
    dropDegree(out.upper, "oberen Abmass");
    dropDegree(out.lower, "unteren Abmass");
    dropDegree(out.tolerance, "Abmasstext");
    dropDegree(out.post, "Nachtext");
    dropDegree(out.pre, "Vortext");
  }
  const std::size_t sep = out.value.find_first_of(".,");
  if (sep != std::string::npos) {
    out.digits = static_cast<int>(out.value.size() - sep - 1);
    out.showZeros = out.digits > 0 && out.value.back() == '0';
  }
  out.font = main->source->fontName;
  out.height = main->height;
  out.x = main->source->start.x;
  out.y = main->source->start.y;
  out.angle = base;
  return out;
}

namespace {
// The flag field of the sending system: symbols by position.
std::string flagFieldOptions(const std::string& p) {
  std::string o;
  if (p.compare(8, 2, "DU") == 0) {
    o += "\"diam\" ";
  } else if (p.compare(10, 2, "QU") == 0) {
    o += "\"square\" ";
  } else if (p.compare(0, 2, "()") == 0) {
    o += "\"aux\" ";
  } else if (p.compare(2, 2, "[]") == 0) {
    o += "\"raw\" ";
  } else if (p.compare(6, 2, "TH") == 0) {
    o += "\"theoretical\" ";
  }
  if (p.compare(4, 2, "PR") == 0) o += "\"control\" ";
  return o;
}
constexpr std::size_t kFlagFieldLength = 26;
struct WholeSymbol {
  const char* text;
  const char* option;
};
constexpr WholeSymbol kWholeSymbols[] = {{"[]", "raw"},         {"()", "aux"},   {"PR", "control"},
                                         {"TH", "theoretical"}, {"DU", "diam"}, {"QU", "square"}};
const char* firstByteSymbol(unsigned char c) {
  switch (c) {
    case 24: return "square";
    case 25: return "almost";
    case 216:
    case 248:
    case 29: return "diam";
    default: return nullptr;
  }
}
bool isArrowHead(int kind) { return kind == 5 || kind == 6 || kind == 9; }
// The position of the 'x' or '*' of a repetition ("4x", "(4 *"), npos when
// the pre-text is none: only a count (blanks and an opening parenthesis
// around it) may stand before the sign, so that a word such as "Max" is
// not taken for one.
std::size_t repetitionCut(const std::string& pre) {
  const std::size_t cut = pre.find_first_of("*x");
  if (cut == std::string::npos) return cut;
  bool digit = false;
  for (std::size_t i = 0; i < cut; ++i) {
    const char c = pre[i];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c != ' ' && c != '(') {
      return std::string::npos;
    }
  }
  return digit ? cut : std::string::npos;
}
}  // namespace

std::string DimShownPreText(const std::string& pre) {
  if (pre.size() == kFlagFieldLength) return "";
  for (const WholeSymbol& w : kWholeSymbols) {
    if (pre == w.text) return "";
  }
  const std::size_t cut = repetitionCut(pre);
  if (cut != std::string::npos) return trimmed(pre.substr(cut + 1));
  if (!pre.empty() && firstByteSymbol(static_cast<unsigned char>(pre[0]))) return pre.substr(1);
  return pre;
}

std::string DimOptionsBlock(int digits, bool showZeros, const std::string& pre,
                            const std::vector<ScriptDimWitness>& witnesses, char state,
                            const std::vector<ScriptDimLeader>& leaders, const std::vector<std::string>& extra) {
  TraceScope t("ses502");
  std::string o = "{ { \"digits\", " + std::to_string(digits) + " } ";
  if (showZeros) o += "\"show_zeros\" ";
  bool whole = false;
  for (const WholeSymbol& w : kWholeSymbols) {
    if (pre == w.text) {
      o += std::string("\"") + w.option + "\" ";
      whole = true;
    }
  }
  if (pre.size() == kFlagFieldLength) {
    o += flagFieldOptions(pre);
  } else if (!whole) {
    const std::size_t cut = repetitionCut(pre);
    if (cut != std::string::npos) {
      std::string count = pre.substr(0, cut);
      count.erase(std::remove_if(count.begin(), count.end(), [](char c) { return c == ' ' || c == '('; }),
                  count.end());
      o += "\"repet\" { \"repeat\" " + count + " } ";
    } else if (!pre.empty()) {
      if (const char* s = firstByteSymbol(static_cast<unsigned char>(pre[0]))) o += std::string("\"") + s + "\" ";
    }
  }
  const bool wd = state == 'w' || state == 'd';
  if (witnesses.size() > 0 && witnesses[0].suppressed == 1) {
    if (wd) {
      o += "\"left_half\" ";
    } else if (state != 'c') {
      o += "\"right_half\" ";
    }
  }
  if (witnesses.size() > 1 && witnesses[1].suppressed == 1) {
    if (wd) {
      o += "\"right_half\" ";
    } else if (state != 'c') {
      o += "\"left_half\" ";
    }
  }
  const bool a1 = leaders.size() > 0 && isArrowHead(leaders[0].form);
  const bool a2 = leaders.size() > 1 && isArrowHead(leaders[1].form);
  if (a1 && a2) {
    o += "\"two_points\" ";
  } else if (a1) {
    o += "\"arrow_right\" ";
  } else if (a2 || state == 'r') {
    o += "\"arrow_left\" ";
  }
  for (const std::string& e : extra) o += e + " ";
  return o + "}";
}

std::string DimTextBlock(const ScriptDimTexts& t, DimTextForm form, const std::string& colour, double textScale) {
  const ScriptState& s = scriptState();
  const bool hasHeight = t.height > s.pointTolerance;
  const std::string texts = "{\"" + t.pre + "\",\"" + t.value + "\",\"" + t.post + "\",";
  switch (form) {
    case DimTextForm::kToolkit: {
      const std::string h = hasHeight ? general(t.height * textScale) : "3.5";
      const std::string a = std::fabs(t.angle) > kAngleShown ? general(degrees(t.angle)) : "0.0";
      return texts + "{\"" + t.font + "\"," + h + "," + a + ",0,1},{" + scriptNumber(t.x * s.unitScale) + "," +
             scriptNumber(t.y * s.unitScale) + ",0}," + colour + "}";
    }
    case DimTextForm::kIges: {
      const std::string h = hasHeight ? scriptNumber(t.height * s.unitScale) : "3.5";
      return texts + "{\"\"," + h + ",0.0,0,1}," + position({t.x, t.y, 0}) + "}";
    }
    case DimTextForm::kSector: {
      const std::string h = hasHeight ? scriptNumber(t.height * s.unitScale) : "3.5";
      return "{\"" + t.pre + "\", \"" + t.value + "\", \"" + t.post + "\", {\"\"," + h + ",0,1}," +
             position({t.x, t.y, 0}) + "}";
    }
  }
  return "";
}

std::string DimToleranceBlock(const std::string& upper, const std::string& lower, const std::string& tolerance,
                              const std::string& fit, bool toolkit) {
  std::string u = upper, l = lower, tol = tolerance;
  if (toolkit) {
    if (tol.size() >= 3 && (tol.compare(0, 3, "%%p") == 0 || tol.compare(0, 3, "%%P") == 0)) {
      tol = "@+-" + tol.substr(3);
    }
    for (std::string* dev : {&u, &l}) {
      double v = 0;
      if (isNumber(*dev, v)) {
        char b[64];
        std::snprintf(b, sizeof b, "%+f", v);
        *dev = b;
      }
    }
  }
  return "{\"" + u + "\",\"" + l + "\",\"" + tol + "\",\"" + fit + "\"}";
}

std::string DimArrowBlock(const std::vector<ScriptDimLeader>& leaders, const std::string& colour) {
  std::string o = "{" + std::to_string(leaders.size());
  if (!leaders.empty()) {
    o += ",";
    for (const ScriptDimLeader& l : leaders) {
      char size[64];
      std::snprintf(size, sizeof size, "%f", std::isfinite(l.arrowSize) ? l.arrowSize : 0.0);
      o += std::string("{\"") + DimArrowName(l.arrowName) + "\"," + size + "," + colour + "}";
    }
  }
  return o + "}";
}

void DimMoveCode029(ScriptDimTexts& t) {
  if (t.value != "@029") return;
  if (!t.post.empty()) {
    t.post += t.value;
    t.value.clear();
  } else {
    std::swap(t.value, t.post);
  }
}

namespace {

// Whether an IGES radius dimension is a long radius measure (the text lies
// on the centre's side of the arrow point).
bool DimIsLongRadius(const ScriptPointXYZ& centre, const ScriptPointXYZ& arrow, const ScriptPointXYZ& text) {
  TraceScope t("ses503");
  const double dot = (text.x - arrow.x) * (centre.x - arrow.x) + (text.y - arrow.y) * (centre.y - arrow.y);
  return dot > 0.0;
}

// The statement writers; texts quoted, positions and angles in model space.
// Each returns the new element number, -1 when the dimension cannot be
// expressed (nothing written) or -99 outside the clip box.
std::int32_t ScriptLinearDimension(std::int32_t index, const ScriptDimensionRecord& d, const ScriptMatrix* m,
                                   const ScriptDimTexts& texts) {
  TraceScope t("ses510");
  const double tol = tolerance();
  const ScriptPointXYZ p1 = scriptTransform(m, d.first), p2 = scriptTransform(m, d.second);
  const ScriptPointXYZ line = scriptTransform(m, d.linePosition);
  const double a = normalised(transformAngle(m, d.lineAngle));
  const char* kind = nullptr;
  std::string angle;
  if (d.aligned) {
    kind = "plc1plc2";
  } else if (std::fabs(a - 1.5707963267948966) <= tol || std::fabs(a - 4.71238898038469) <= tol) {
    kind = "pointpointvert";
    angle = ",90.0";
  } else if (a <= tol || std::fabs(a - kPi) <= tol || std::fabs(a - 2.0 * kPi) <= tol) {
    kind = "pointpointhor";
    angle = ",0.0";
  } else {
    const double direction = std::atan2(p2.y - p1.y, p2.x - p1.x);
    if (angleApart(direction, a) > tol && angleApart(direction, a + kPi) > tol) return -1;
    kind = "plc1plc2";
  }
  if (angle.empty()) angle = a > kAngleShown ? "," + scriptNumber(degrees(a)) : ", ";
  if (ScriptClipPoints({p1, p2, line}) != 0) return -99;
  const Prepared p = prepare(d, texts);
  const std::int32_t e1 = ScriptPoint(0, d.attributes, nullptr, nullptr, p1);
  const ScriptPointXYZ ref = p1;
  const std::int32_t e2 = ScriptPoint(0, d.attributes, nullptr, &ref, p2);
  const double s = scriptState().unitScale;
  const std::string dx = scriptNumber((line.x - p1.x) * s), dy = scriptNumber((line.y - p1.y) * s);
  const std::int32_t n = scriptNextElement();
  const std::string head = E(n) + "=DTCreateLinearDimension(\"" + kind + "\"," + optionsOf(d, p.raw);
  const std::string k = "," + std::to_string(d.k);
  if (toolkitRun()) {
    scriptStatement(head + ", " + textBlock(p, d, DimTextForm::kIges) + "," + toleranceBlock(p) + ", {" + dx + "," +
                    dy + " }" + angle + ", " + DimArrowBlock(d.leaders, p.colour) + ", " + E(e1) + ", " + E(e2) + k +
                    tail(index, d, p.colour));
  } else {
    scriptStatement(head + "," + textBlock(p, d, DimTextForm::kIges) + "," + toleranceBlock(p) + ",{" + dx + "," + dy +
                    "}" + angle + ",{0}, " + E(e1) + ", " + E(e2) + k + tail(index, d, p.colour));
  }
  return n;
}

std::int32_t ScriptDiameterDimension(std::int32_t index, const ScriptDimensionRecord& d, const ScriptMatrix* m,
                                     const ScriptDimTexts& texts) {
  TraceScope t("ses530");
  if (d.asLinear) return ScriptLinearDimension(index, d, m, texts);
  if (d.circle <= 0) return -1;
  const ScriptPointXYZ line = scriptTransform(m, d.linePosition);
  if (ScriptClipPoints({scriptTransform(m, d.centre), line}) != 0) return -99;
  const Prepared p = prepare(d, texts);
  const std::int32_t a = scriptNextElement();
  scriptStatement(E(a) + "=DTCreateAngleAbsolute ( " + scriptNumber(degrees(transformAngle(m, d.lineAngle))) +
                  ", \"\" )");
  const std::int32_t n = scriptNextElement();
  scriptStatement(E(n) + "=DTCreateDiameterDimension ( " + optionsOf(d, p.raw) + "," +
                  textBlock(p, d, DimTextForm::kIges) + "," + toleranceBlock(p) + "," + position(line) + "," + E(a) +
                  "," + DimArrowBlock(d.leaders, p.colour) + "," + E(d.circle) + tail(index, d, p.colour));
  return n;
}

std::int32_t ScriptRadiusDimension(std::int32_t index, const ScriptDimensionRecord& d, const ScriptMatrix* m,
                                   const ScriptDimTexts& texts) {
  TraceScope t("ses520");
  if (d.circle <= 0) return -1;
  const ScriptPointXYZ centre = scriptTransform(m, d.centre);
  const ScriptPointXYZ line = scriptTransform(m, d.linePosition);
  if (ScriptClipPoints({centre, line}) != 0) return -99;
  bool shortRadius = d.shortRadius;
  if (!toolkitRun()) {
    const ScriptPointXYZ arrow = d.leaders.empty() ? line : scriptTransform(m, d.leaders[0].arrowPoint);
    shortRadius = !DimIsLongRadius(centre, arrow, scriptTransform(m, {texts.x, texts.y, 0}));
  }
  const Prepared p = prepare(d, texts);
  const std::string options =
      optionsOf(d, p.raw, {shortRadius ? "\"is_shortradiusmeasure\"" : "\"is_longradiusmeasure\""});
  const std::int32_t n = scriptNextElement();
  scriptStatement(E(n) + " = DTCreateRadiusDimension (" + options + "," + textBlock(p, d, DimTextForm::kIges) + "," +
                  toleranceBlock(p) + "," + position(line) + "," +
                  scriptNumber(degrees(transformAngle(m, d.lineAngle))) + "," + DimArrowBlock(d.leaders, p.colour) +
                  "," + E(d.circle) + tail(index, d, p.colour));
  return n;
}

// Whether the referenced line runs along the leg from the vertex to p.
bool lineFits(const ScriptDimReference& r, const ScriptPointXYZ& vertex, const ScriptPointXYZ& p) {
  if (!r.hasEnds) return false;
  const double lx = r.end.x - r.start.x, ly = r.end.y - r.start.y;
  const double vx = p.x - vertex.x, vy = p.y - vertex.y;
  const double ll = std::hypot(lx, ly), vl = std::hypot(vx, vy);
  if (ll <= tolerance() || vl <= tolerance()) return false;
  return std::fabs(lx * vy - ly * vx) / (ll * vl) <= kDirectionFit;
}

std::int32_t ScriptAngularDimension(std::int32_t index, const ScriptDimensionRecord& d, const ScriptMatrix* m,
                                    const ScriptDimTexts& texts) {
  TraceScope t("ses540");
  const ScriptPointXYZ v = scriptTransform(m, d.centre), a = scriptTransform(m, d.first),
                       b = scriptTransform(m, d.second), line = scriptTransform(m, d.linePosition);
  if (ScriptClipPoints({v, a, b, line}) != 0) return -99;
  const Prepared p = prepare(d, texts);
  std::string kind = "angle3points";
  std::string points;
  DimTextForm form = DimTextForm::kIges;
  if (d.references.size() == 1 && d.references[0].arc != 0) {
    kind = d.arcLength ? "arclength" : "anglesector";
    points = ",{" + E(d.references[0].arc) + "}";
    form = DimTextForm::kSector;
  } else if (d.references.size() == 2 && d.references[0].line != 0 && d.references[1].line != 0 &&
             lineFits(d.references[0], d.centre, d.first) && lineFits(d.references[1], d.centre, d.second)) {
    kind = "angle2lines";
    points = ",{" + E(d.references[0].line) + "," + E(d.references[1].line) + "}," + std::to_string(d.k);
  }
  // The reflex angle (more than a half turn from the first leg to the second).
  std::vector<std::string> extra;
  const double sweep = normalised(std::atan2(b.y - v.y, b.x - v.x) - std::atan2(a.y - v.y, a.x - v.x));
  if (sweep > kPi) extra.push_back("\"is_longmeasure\"");
  const std::string options = optionsOf(d, p.raw, extra);
  if (kind == "angle3points") {
    const std::int32_t ev = ScriptPoint(0, d.attributes, nullptr, nullptr, v);
    const ScriptPointXYZ ref = v;
    const std::int32_t ea = ScriptPoint(0, d.attributes, nullptr, &ref, a);
    const std::int32_t eb = ScriptPoint(0, d.attributes, nullptr, &ref, b);
    points = ",{" + E(ev) + "," + E(ea) + "," + E(eb) + "}";
  }
  const std::int32_t n = scriptNextElement();
  scriptStatement(E(n) + "=DTCreateAngularDimension(\"" + kind + "\"," + options + "," + textBlock(p, d, form) + "," +
                  toleranceBlock(p) + "," + position(line) + "," +
                  scriptNumber(degrees(transformAngle(m, d.lineAngle))) + "," + DimArrowBlock(d.leaders, p.colour) +
                  points + ",0" + tail(index, d, p.colour));
  return n;
}

}  // namespace

namespace {

// The picture of the run (-svg): a dimension as its lines, arrows and
// text, from the points its statement gives.
void drawDimension(ConversionPicture& picture, std::int32_t index, const ScriptDimensionRecord& d,
                   const ScriptMatrix* m, const ScriptDimTexts& texts) {
  DrawnStyle style;
  style.element = index;
  style.layer = d.layerName.empty() ? std::to_string(d.level) : d.layerName;
  style.colour = cadColourOf(d.attributes.colour);
  const auto flat = [m](const ScriptPointXYZ& p) {
    const ScriptPointXYZ q = scriptTransform(m, p);
    return DrawnPoint{q.x, q.y};
  };
  DrawnDimension drawn;
  const bool diameter = d.kind == ScriptDimKind::kDiameter && !d.asLinear;
  drawn.kind = d.kind == ScriptDimKind::kAngular ? DrawnDimensionKind::kAngular
               : d.kind == ScriptDimKind::kRadius ? DrawnDimensionKind::kRadius
               : diameter                         ? DrawnDimensionKind::kDiameter
                                                  : DrawnDimensionKind::kLinear;
  drawn.first = flat(d.first);
  drawn.second = flat(d.second);
  drawn.centre = flat(d.centre);
  // Radius and diameter point at the circle with their arrows.
  if (drawn.kind == DrawnDimensionKind::kRadius || drawn.kind == DrawnDimensionKind::kDiameter) {
    const ScriptPointXYZ line = d.leaders.empty() ? d.linePosition : d.leaders[0].arrowPoint;
    drawn.first = flat(line);
    drawn.second = d.leaders.size() > 1 ? flat(d.leaders[1].arrowPoint) : drawn.first;
  }
  if (!d.leaders.empty()) drawn.arrowSize = d.leaders[0].arrowSize * scriptMatrixScale(m);
  drawn.textAt = {texts.x, texts.y};
  drawn.textHeight = texts.height;
  drawn.textAngle = texts.angle;
  drawn.text = texts.pre + texts.value + texts.post;
  picture.dimension(style, drawn);
}

}  // namespace

int ScriptDimension(std::int32_t index, const ScriptDimensionRecord& d, const ScriptMatrix* view,
                    const ScriptMatrix* elementMatrix, std::vector<std::int32_t>& created) {
  TraceScope t("ses505");
  try {
    if (d.kind == ScriptDimKind::kNone) return -1;
    ScriptMatrix combined;
    const ScriptMatrix* m = combine(elementMatrix, view, combined);
    mfaSetCurrentName(d.data.name);
    if (!d.layerName.empty()) {
      ScriptLayerOf(d.layerName);
    } else {
      ScriptLayerSwitch(index, d.level);
    }
    ScriptDimTexts texts =
        d.textsGiven ? d.texts : DimAnalyseText(d.note, d.kind == ScriptDimKind::kAngular);
    const ScriptPointXYZ at = scriptTransform(m, {texts.x, texts.y, 0});
    texts.x = at.x;
    texts.y = at.y;
    texts.angle = transformAngle(m, texts.angle);
    texts.height *= scriptMatrixScale(m);
    std::int32_t n = -1;
    switch (d.kind) {
      case ScriptDimKind::kAngular: n = ScriptAngularDimension(index, d, m, texts); break;
      case ScriptDimKind::kDiameter: n = ScriptDiameterDimension(index, d, m, texts); break;
      case ScriptDimKind::kLinear: n = ScriptLinearDimension(index, d, m, texts); break;
      case ScriptDimKind::kRadius: n = ScriptRadiusDimension(index, d, m, texts); break;
      case ScriptDimKind::kNone: break;
    }
    if (n < 0) return n == -99 ? -99 : -1;
    ScriptRecordCreated(n, created);
    if (ConversionPicture* picture = conversionPicture()) drawDimension(*picture, index, d, m, texts);
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  return 0;
}
