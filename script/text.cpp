#include "script/text.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <ostream>

#include "support/assign_tables.h"
#include "support/charset.h"
#include "support/config.h"
#include "support/conversion_picture.h"
#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr int kSenderQuorix = 4;       // font names go through the font-name file
constexpr int kSenderNoViewScale = 7;  // texts keep their size in a scaled view
constexpr int kFormFontChanges = 2;
constexpr int kFormStack = 6;
constexpr int kClassicMode = 1;
constexpr std::size_t kClassicLongest = 80;  // longer strings become a text block
// The CAD system's angles: degrees from radians with its own value of pi,
// and the quarter turn that makes an upside-down string vertical.
constexpr double kScriptPi = 3.14159265;
constexpr double kQuarterTurn = 1.57079633;
constexpr double kHeightsToNextLine = 1.5;

constexpr const char* kAnchorNames[] = {"begint", "middlet", "endt",    "beginm", "middlem",
                                        "endm",   "beginv",  "middlev", "endv"};

double degrees(double radians) { return radians * 180.0 / kScriptPi; }

// The angle of the base line after the matrix: a rotation adds its angle, a
// mirroring matrix turns the base line's direction.
double transformAngle(const ScriptMatrix* m, double angle) {
  if (!m) return angle;
  const double det = m->r[0][0] * m->r[1][1] - m->r[0][1] * m->r[1][0];
  if (det >= 0.0) return angle + std::atan2(m->r[1][0], m->r[0][0]);
  const double dx = std::cos(angle), dy = std::sin(angle);
  return std::atan2(m->r[1][0] * dx + m->r[1][1] * dy, m->r[0][0] * dx + m->r[0][1] * dy);
}

std::string fontArgument(const ScriptTextString& s) {
  if (s.fontName.empty()) return "TEXTFONT";
  const std::string name = runState().senderCode == kSenderQuorix ? cadFontName(s.fontName) : s.fontName;
  return std::string("\"").append(ScriptQuoteText(name)).append("\"");
}

// The string's bytes converted for the sending system and its font.
std::string convertedText(const ScriptTextString& s) {
  std::string text = s.text;
  convertText(text, s.fontCode);
  return text;
}

// One character of a vertical string, as a string of its own followed by a
// blank.  A backslash is escaped like in any other string literal.
std::string verticalCharacter(unsigned char c) {
  if (c == '"') return "\"\\\"\" ";
  if (c == '\\') return "\"\\\\\" ";
  if (c >= 32 && c <= 126) return std::string("\"") + static_cast<char>(c) + "\" ";
  char code[8];
  std::snprintf(code, sizeof code, "@%03u", static_cast<unsigned>(c));
  return std::string("\"").append(code).append("\" ");
}

// What a string statement needs besides its text.
struct StringFrame {
  std::string font;
  std::int32_t point = 0;  // E<p>, the start point
  double angle = 0.0;      // radians, after the matrix
  bool vertical = false;
  double h = 0.0;          // text height before the unit and matrix scale
  double w = 0.0;          // width as written
  const char* anchor = "beginv";
};

// "E<w>=DTCreateWorldRotaScale(...)" and its origin; the origin's number.
std::int32_t rotatedWorld(const StringFrame& f) {
  const std::int32_t world = scriptNextElement();
  scriptStatement(E(world) + "=DTCreateWorldRotaScale(" + E(f.point) + "," + scriptNumber(degrees(f.angle)) +
                  ",1,1,1)");
  const std::int32_t origin = scriptNextElement();
  scriptStatement(E(origin) + "=DTCreatePointOrigin(" + E(world) + ",\"\")");
  return origin;
}

}  // namespace

const char* scriptAnchorName(int anchor) {
  if (anchor < 1 || anchor > 9) return "beginv";
  return kAnchorNames[anchor - 1];
}

std::string ScriptQuoteText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '@') {
      if (text.substr(i + 1, 2) == "+-") {
        out += "@+-";
        i += 2;
        continue;
      }
      const bool after = i > 0 && text[i - 1] == '@';
      const bool before = i + 1 < text.size() && text[i + 1] == '@';
      out += (i > 0 && !after && !before) ? "@@" : "@";
    } else if (c >= 32 && c <= 126 && c != '$') {
      out += static_cast<char>(c);
    } else {
      char code[8];
      std::snprintf(code, sizeof code, "@%03u", static_cast<unsigned>(c));
      out += code;
    }
  }
  return out;
}

int ScriptText(std::int32_t index, const ScriptNoteRecord& note, const ScriptMatrix* m,
               std::vector<std::int32_t>& created) {
  TraceScope t("ses440");
  if (note.strings.empty()) return -99;
  try {
    ScriptState& s = scriptState();
    const RunState& run = runState();
    const bool toolkit = run.useToolkit != 0;
    mfaSetCurrentName(note.data.name);
    const std::string colour = ScriptColourText(note.attributes.colour);
    const std::string info = ScriptInfoText(index, &note.data);
    const std::string blank = ScriptBlank(note.attributes.blank);
    if (!note.layerName.empty()) {
      ScriptLayerOf(note.layerName);
    } else {
      ScriptLayerSwitch(index, note.level);
    }
    const double scale = scriptMatrixScale(m);
    const std::string pointTail = "," + blank + "," + colour + ",{})";
    const std::string textTail = "," + blank + "," + colour + "," + info + ")";

    for (std::size_t i = 0; i < note.strings.size(); ++i) {
      const ScriptTextString& str = note.strings[i];
      if (!str.hasText) return -99;
      if (str.rejected) continue;

      StringFrame f;
      f.font = fontArgument(str);
      const ScriptPointXYZ start = scriptTransform(m, str.start);
      if (ScriptClipPoints({start}) != 0) return -99;
      f.point = ScriptPoint(0, note.attributes, nullptr, nullptr, start);
      // Angles and sizes that are no number are written as 0.
      f.angle = transformAngle(m, std::isfinite(str.angle) ? str.angle : 0.0);
      if (!std::isfinite(f.angle)) f.angle = 0.0;
      f.vertical = str.vertical == 1;
      f.anchor = scriptAnchorName(str.anchor);
      // An upside-down string is written as a vertical one, turned on.
      if (!f.vertical && std::fabs(f.angle - kScriptPi) <= s.pointTolerance) {
        f.vertical = true;
        f.angle += kQuarterTurn;
      }

      int form = note.form;
      std::string text = convertedText(str);
      bool endsWithoutText = false;
      std::size_t last = i;  // the last string this statement takes
      if (form == kFormFontChanges) {
        // Embedded font changes: the rest of the note is one string.
        for (std::size_t k = i + 1; k < note.strings.size(); ++k) {
          if (!note.strings[k].hasText) {
            endsWithoutText = true;
            break;
          }
          last = k;
          if (!note.strings[k].rejected) text += convertedText(note.strings[k]);
        }
        form = 0;
      }

      double h = str.boxHeight;
      double w = str.boxWidth;
      if (toolkit && note.dwgTextFactor != 0.0) {
        h *= note.dwgTextFactor;
        if (!str.ownWidthFactor) w *= note.dwgTextFactor;
      }
      if (s.modelScale != 1.0) {
        h *= s.modelScale;
        w *= s.modelScale;
      }
      if (note.viewCurrent && run.senderCode != kSenderNoViewScale) {
        h *= note.viewScale;
        w *= note.viewScale;
      }
      if (!std::isfinite(h)) h = 0.0;
      if (!std::isfinite(w)) w = 0.0;
      f.h = h;
      f.w = w;
      const std::string height = scriptNumber(h * s.unitScale * scale);
      const std::string nextLine = scriptNumber(kHeightsToNextLine * s.unitScale * h * scale);
      const std::string angle = scriptNumber(degrees(f.angle));
      const std::string head = f.font + ",0,1,\"mnone\",\"" + f.anchor + "\",";

      std::int32_t textNumber = 0;
      if (form == 0 && f.vertical) {
        const std::int32_t origin = rotatedWorld(f);
        const std::int32_t q = scriptNextElement();
        scriptStatement(E(q) + "=point_samex(" + E(origin) + "," + nextLine + pointTail);
        std::string characters;
        for (const char c : text) characters += verticalCharacter(static_cast<unsigned char>(c));
        textNumber = scriptNextElement();
        scriptStatement(E(textNumber) + "=DTCreateTextBlock(" + head + "{" + characters + "}," + E(q) + "," + height +
                        "," + angle + "," + scriptNumber(w) + textTail);
      } else if (form == kFormStack) {
        // One block of all strings from this one on, one line each.
        std::int32_t q = f.point;
        if (!toolkit) {
          q = scriptNextElement();
          scriptStatement(E(q) + "=DTCreatePointSameX(" + E(f.point) + "," + nextLine + pointTail);
        }
        std::string lines = std::string("\"").append(ScriptQuoteText(text)).append("\"\n");
        for (std::size_t k = i + 1; k < note.strings.size(); ++k) {
          const ScriptTextString& more = note.strings[k];
          if (!more.hasText) {
            endsWithoutText = true;
            break;
          }
          last = k;
          if (more.rejected) continue;
          lines.append("\"").append(ScriptQuoteText(convertedText(more))).append("\"\n");
        }
        textNumber = scriptNextElement();
        scriptStatement(E(textNumber) + "=DTCreateTextBlock(" + head + "{\n" + lines + "}," + E(q) + "," + height +
                        "," + angle + "," + scriptNumber(w) + textTail);
      } else if (runSettings().tlvvMode == kClassicMode && (text.empty() || text.size() > kClassicLongest)) {
        // The classic system takes no over-long string in a text statement.
        if (std::fabs(f.angle) > 0.0 || f.vertical) rotatedWorld(f);
        const std::int32_t q = scriptNextElement();
        scriptStatement(E(q) + "=DTCreatePointSameX(" + E(f.point) + "," + nextLine + pointTail);
        textNumber = scriptNextElement();
        scriptStatement(E(textNumber) + "=DTCreateTextBlock(" + head + "{\"" + ScriptQuoteText(text) + "\" }," + E(q) +
                        "," + height + "," + angle + "," + scriptNumber(w) + textTail);
      } else {
        // The plain string, by its position and (when turned) its angle.
        const bool turned = std::fabs(f.angle) > s.pointTolerance;
        textNumber = scriptNextElement();
        ScriptScratch scratch;
        std::string& line = scratch.text();
        line.push_back('E');
        scriptAppendInteger(line, textNumber);
        line.append(turned ? "=DTCreateTextAnglepos(" : "=DTCreateTextAbsolute(").append(head).push_back('"');
        line.append(ScriptQuoteText(text)).append("\",E");
        scriptAppendInteger(line, f.point);
        line.push_back(',');
        line.append(height).push_back(',');
        if (turned) line.append(angle).push_back(',');
        scriptAppendNumber(line, w);
        line.append(textTail).push_back('\n');
        scriptWrite(line);
      }

      if (str.mirror != 0) {
        const std::int32_t a = scriptNextElement();
        scriptStatement(E(a) + (str.mirror == 1 ? "=angle_sum(" + angle + ",90.0)" : "=angle_absolute(" + angle + ")"));
        const std::int32_t l = scriptNextElement();
        scriptStatement(E(l) + "=line_pointalfalength(,,\"not_limited\"," + E(f.point) + "," + E(a) +
                        ",100.0,\"beginv\")");
        const std::int32_t mirrored = scriptNextElement();
        scriptStatement(E(mirrored) + "=text_mirror(," + E(textNumber) + "," + E(l) + ")");
        scriptStatement("delete({" + E(l) + "," + E(textNumber) + "})");
        ++s.statementCounter;
        textNumber = mirrored;
      }
      ScriptRecordCreated(textNumber, created);
      if (ConversionPicture* record = conversionPicture()) {
        DrawnStyle style;
        style.element = index;
        style.layer = note.layerName.empty() ? std::to_string(note.level) : note.layerName;
        style.colour = cadColourOf(note.attributes.colour);
        record->text(style, {start.x, start.y}, h * scale, f.angle, text);
      }
      if (endsWithoutText) return -99;
      i = last;
    }
  } catch (const std::bad_alloc&) {
    return mfaNoMemory(t.code());
  }
  return 0;
}
