// EDX file parser: compression, the block structure, element lists,
// composite segments, named groups and the group hierarchy.
//
// The text is walked by regions [begin, end) of the compressed text.  The
// matching '}' of every '{' is found once, before the walk, so that taking a
// block never scans its content again: every character is looked at a
// bounded number of times, and the nesting bound keeps the recursion
// shallow.
#include "transfer/edx_parser.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "support/messages.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

constexpr const char* kParseCode = "edx100";
constexpr int kMsgParfaceNotImplemented = 950;
constexpr int kMsgCsurfNotImplemented = 951;

EdxParserState& state() {
  static EdxParserState s;
  return s;
}

const RunStateRegistrar kRunStateRegistered("EDX parser", resetEdxParser);

void sayBytes(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

using Pos = std::size_t;
constexpr Pos kNone = static_cast<Pos>(-1);

class EdxWalk {
 public:
  EdxWalk(const std::string& text, EdxParserState& s) : text_(text), s_(s) { matchBraces(); }

  // A sequence of blocks: each block in turn; a block without its '}' ends
  // the sequence.
  void processSequence(Pos begin, Pos end, int depth) {
    Pos at = begin;
    for (;;) {
      const Pos open = find('{', at, end);
      if (open == kNone) return;
      const Pos close = closeOf(open, end);
      if (close == kNone) return;
      processBlock(open + 1, close, depth);
      at = close + 1;
    }
  }

 private:
  const std::string& text_;
  EdxParserState& s_;
  // Every '{' with its matching '}' (kNoClose when it has none), ascending
  // by the offset of the '{'.
  struct Brace {
    std::uint32_t open;
    std::uint32_t close;
  };
  std::vector<Brace> braces_;

  static constexpr std::uint32_t kNoClose = 0xFFFFFFFFu;

  void matchBraces() {
    std::vector<std::size_t> open;  // indices into braces_ of the '{' not yet closed
    for (Pos i = 0; i < text_.size(); ++i) {
      if (text_[i] == '{') {
        open.push_back(braces_.size());
        braces_.push_back(Brace{static_cast<std::uint32_t>(i), kNoClose});
      } else if (text_[i] == '}' && !open.empty()) {
        braces_[open.back()].close = static_cast<std::uint32_t>(i);
        open.pop_back();
      }
    }
  }

  // The '}' of the '{' at `open`, when it lies before `end`.
  Pos closeOf(Pos open, Pos end) const {
    const auto found = std::lower_bound(braces_.begin(), braces_.end(), open,
                                        [](const Brace& b, Pos at) { return b.open < at; });
    if (found == braces_.end() || found->open != open || found->close == kNoClose || found->close >= end) {
      return kNone;
    }
    return found->close;
  }

  Pos find(char c, Pos from, Pos end) const {
    if (from >= end) return kNone;
    const void* hit = std::memchr(text_.data() + from, c, end - from);
    return hit == nullptr ? kNone : static_cast<Pos>(static_cast<const char*>(hit) - text_.data());
  }

  bool startsWith(Pos at, Pos end, std::string_view prefix) const {
    return end - at >= prefix.size() && std::string_view(text_).substr(at, prefix.size()) == prefix;
  }

  std::string_view view(Pos begin, Pos end) const { return std::string_view(text_).substr(begin, end - begin); }

  // One block's content.  A block of records may hold nested blocks among
  // them; the records and the nested blocks are taken in their order.
  void processBlock(Pos begin, Pos end, int depth) {
    if (depth >= kEdxMaxNesting) {
      std::printf("ERROR : blocks nested deeper than %d levels, block skipped !\n", kEdxMaxNesting);
      return;
    }
    if (begin < end && text_[begin] == '{') {
      processSequence(begin, end, depth + 1);
      return;
    }
    if (!startsWith(begin, end, "0:")) {
      listWithBlocks(begin, end, depth, false);
      return;
    }
    const Pos at = begin + 2;
    if (startsWith(at, end, "UT")) {
      const std::string_view code = view(at + 2, std::min(end, at + 6));
      if (code == "1024") {
        compositeSegment(at + 6, end);
      } else if (code == "1034") {
        // Surfaces have no element in the table: counted warnings, the
        // block is passed over.
        mfaWarning(kParseCode, kMsgParfaceNotImplemented, Channel::kBoth);
      } else if (code == "1042") {
        mfaWarning(kParseCode, kMsgCsurfNotImplemented, Channel::kBoth);
      } else {
        std::printf("ERROR, unknown Usertype fount (UT");
        sayBytes(code);
        std::printf(") !\n");
      }
      return;
    }
    if (at < end && text_[at] == '"') {
      namedGroup(at, end, depth);
      return;
    }
    std::printf("WARNING: UNKNOWN TYPE (");
    sayBytes(view(at, std::min(end, at + 2)));
    std::printf(") found !\n");
    listWithBlocks(at, end, depth, false);
  }

  // Records, and nested blocks among them, in their order.  Each stretch of
  // records between two blocks is an element list of its own.  With
  // `fromFirstDot` the text before the first record is passed over.
  void listWithBlocks(Pos begin, Pos end, int depth, bool fromFirstDot) {
    Pos at = begin;
    while (at < end) {
      const Pos brace = find('{', at, end);
      Pos stretch = at;
      const Pos stop = brace == kNone ? end : brace;
      if (fromFirstDot) {
        const Pos dot = find('.', at, stop);
        stretch = dot == kNone ? stop : dot;
        fromFirstDot = dot == kNone;
      }
      elementList(stretch, stop);
      if (brace == kNone) return;
      const Pos close = closeOf(brace, end);
      if (close == kNone) return;
      processBlock(brace + 1, close, depth + 1);
      at = close + 1;
    }
  }

  // ---- records ----

  std::int32_t append(std::int16_t kind, const Point3* points, int count, std::string text = {}) {
    EdxRecord record;
    record.kind = kind;
    record.pointCount = static_cast<std::uint8_t>(count);
    record.firstPoint = static_cast<std::uint32_t>(s_.points.size());
    record.text = std::move(text);
    s_.points.insert(s_.points.end(), points, points + count);
    s_.records.push_back(std::move(record));
    const auto index = static_cast<std::int32_t>(s_.records.size() - 1);
    registerWithFather(index);
    return index;
  }

  void registerWithFather(std::int32_t index) {
    if (s_.fathers.empty()) return;
    EdxRecord& father = s_.records[static_cast<std::size_t>(s_.fathers.back())];
    if (father.kind == EdxKind::kGroup || father.kind == EdxKind::kCompositeSegment) {
      father.sons.push_back(index);
    } else {
      std::printf("ERROR : FatherType %d unknown !\n", static_cast<int>(father.kind));
    }
  }

  void extend(const Point3& p) {
    EdxBox& box = s_.box;
    if (box.empty) {
      box.min = p;
      box.max = p;
      box.empty = false;
      return;
    }
    box.min.x = std::min(box.min.x, p.x);
    box.min.y = std::min(box.min.y, p.y);
    box.min.z = std::min(box.min.z, p.z);
    box.max.x = std::max(box.max.x, p.x);
    box.max.y = std::max(box.max.y, p.y);
    box.max.z = std::max(box.max.z, p.z);
  }

  // A circle extends the box by the square around it in its plane (its
  // radius vector is no point of the drawing).
  void extendCircle(const Point3& centre, const Point3& radius) {
    const double r = std::sqrt(radius.x * radius.x + radius.y * radius.y + radius.z * radius.z);
    if (!std::isfinite(r)) {
      extend(centre);
      return;
    }
    extend(Point3{centre.x - r, centre.y - r, centre.z});
    extend(Point3{centre.x + r, centre.y + r, centre.z});
  }

  // ---- numbers and coordinate groups ----

  // A decimal real at the start of the field, as far as it converts; 0 when
  // nothing converts or the value is not a finite number.
  static double realOf(std::string_view field) {
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    double value = 0;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value,
                                              std::chars_format::general);
    (void)end;
    if (error != std::errc() || !std::isfinite(value)) return 0;
    return value;
  }

  // The coordinate group "(x,y,z)" whose '(' is at `open`: the three
  // comma-separated numbers (missing ones 0).  Returns the offset after its
  // ')' (end when the group is not closed).
  Pos readGroup(Pos open, Pos end, Point3& point) const {
    point = Point3();
    const Pos close = find(')', open + 1, end);
    const Pos stop = close == kNone ? end : close;
    double* fields[3] = {&point.x, &point.y, &point.z};
    Pos at = open + 1;
    for (double* field : fields) {
      if (at > stop) break;
      const Pos comma = find(',', at, stop);
      const Pos fieldEnd = comma == kNone ? stop : comma;
      *field = realOf(view(at, fieldEnd));
      at = fieldEnd + 1;
    }
    return close == kNone ? end : close + 1;
  }

  // The next coordinate group in [at, end); a missing group reads as 0, 0, 0.
  Pos nextGroup(Pos at, Pos end, Point3& point) const {
    const Pos open = find('(', at, end);
    if (open == kNone) {
      point = Point3();
      return end;
    }
    return readGroup(open, end, point);
  }

  // ---- element lists ----

  // The end of the record whose dot is at `dot`: the next dot outside
  // parentheses.
  Pos recordEnd(Pos dot, Pos end) const {
    int depth = 0;
    for (Pos i = dot + 1; i < end; ++i) {
      const char c = text_[i];
      if (c == '(') {
        ++depth;
      } else if (c == ')') {
        if (depth > 0) --depth;
      } else if (c == '.' && depth == 0) {
        return i;
      }
    }
    return end;
  }

  // The records of [begin, end), which holds no block.
  void elementList(Pos begin, Pos end) {
    if (begin >= end) return;
    if (text_[begin] != '.') {
      std::printf("ERROR: what's this -> ");
      sayBytes(view(begin, end));
      std::printf("\n");
      return;
    }
    Pos at = begin;
    while (at < end) {
      const Pos next = recordEnd(at, end);
      record(at, next);
      at = next;
    }
  }

  // One record, its dot at `dot`, running to `end`.
  void record(Pos dot, Pos end) {
    const char kind = dot + 1 < end ? text_[dot + 1] : '\0';
    Point3 p[2];
    switch (kind) {
      case 'P':
      case 'p':
      case '(':
        nextGroup(dot + 1, end, p[0]);
        extend(p[0]);
        append(EdxKind::kPoint, p, 1);
        return;
      case 'C':
      case 'c':
        nextGroup(nextGroup(dot + 1, end, p[0]), end, p[1]);
        extendCircle(p[0], p[1]);
        append(EdxKind::kCircle, p, 2);
        return;
      case 'L':
      case 'l':
        nextGroup(nextGroup(dot + 1, end, p[0]), end, p[1]);
        extend(p[0]);
        extend(p[1]);
        append(EdxKind::kLine, p, 2);
        return;
      default:
        std::printf("Unknown element found (Starts with a dot (");
        sayBytes(view(dot, std::min(end, dot + 2)));
        std::printf("), what's to do now ?\n");
        return;
    }
  }

  // ---- composite segments ----

  // The content after "UT1024": the definition block, then the data block.
  void compositeSegment(Pos begin, Pos end) {
    Pos definitionBegin = end, definitionEnd = end, dataBegin = end, dataEnd = end;
    const Pos open = find('{', begin, end);
    if (open != kNone) {
      const Pos close = closeOf(open, end);
      if (close != kNone) {
        definitionBegin = open + 1;
        definitionEnd = close;
        const Pos dataOpen = find('{', close + 1, end);
        const Pos dataClose = dataOpen == kNone ? kNone : closeOf(dataOpen, end);
        if (dataClose != kNone) {
          dataBegin = dataOpen + 1;
          dataEnd = dataClose;
        }
      }
    }
    const std::int32_t index =
        append(EdxKind::kCompositeSegment, nullptr, 0, std::string(view(definitionBegin, definitionEnd)));
    s_.fathers.push_back(index);
    segments(dataBegin, dataEnd);
    s_.fathers.pop_back();
  }

  // The coordinate group at `at` after any commas; false when the next
  // thing is not a group.
  bool groupAt(Pos& at, Pos end, Point3& point) const {
    while (at < end && text_[at] == ',') ++at;
    if (at >= end || text_[at] != '(') return false;
    at = readGroup(at, end, point);
    return true;
  }

  // The data of a composite segment: the start point, then the codes.
  void segments(Pos at, Pos end) {
    if (at >= end) return;
    Point3 current;
    at = nextGroup(at, end, current);
    extend(current);
    while (at < end) {
      const char c = text_[at];
      if (c == '(') {
        // The data of a code that is not read.
        Point3 passed;
        at = readGroup(at, end, passed);
        continue;
      }
      if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+')) {
        ++at;
        continue;
      }
      Pos digits = at + 1;
      while (digits < end && std::isdigit(static_cast<unsigned char>(text_[digits]))) ++digits;
      long code = -1;
      const char* first = text_.data() + at + (c == '+' ? 1 : 0);
      std::from_chars(first, text_.data() + digits, code);
      at = digits;
      if (code == 1) {
        Point3 p[2] = {current, {}};
        if (!groupAt(at, end, p[1])) continue;
        extend(p[1]);
        append(EdxKind::kLine, p, 2);
        current = p[1];
      } else if (code == 19) {
        Point3 p[4] = {current, {}, {}, {}};
        if (!groupAt(at, end, p[1]) || !groupAt(at, end, p[2]) || !groupAt(at, end, p[3])) continue;
        extend(p[1]);
        extend(p[2]);
        extend(p[3]);
        append(EdxKind::kArc, p, 4);
        current = p[3];
      }
    }
  }

  // ---- named groups ----

  static bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
      if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
        return false;
      }
    }
    return true;
  }

  // The quoted name whose '"' is at `quote`: the name without its quotes,
  // and the offset after the closing quote (end when it is missing).
  Pos quotedName(Pos quote, Pos end, std::string_view& name) const {
    const Pos close = find('"', quote + 1, end);
    if (close == kNone) {
      name = view(quote + 1, end);
      return end;
    }
    name = view(quote + 1, close);
    return close + 1;
  }

  void namedGroup(Pos quote, Pos end, int depth) {
    std::string_view name;
    const Pos rest = quotedName(quote, end, name);
    if (sameNameIgnoringCase(name, "ELSgroup")) {
      groupHierarchy(rest, end);
      return;
    }
    if (sameNameIgnoringCase(name, "els2d")) {
      listWithBlocks(rest, end, depth, true);
      return;
    }
    const std::int32_t index = append(EdxKind::kGroup, nullptr, 0, std::string(name));
    s_.groupNames.emplace(std::string(name), index);
    s_.fathers.push_back(index);
    processSequence(rest, end, depth + 1);
    s_.fathers.pop_back();
  }

  std::int32_t groupNamed(std::string_view name) const {
    const auto found = s_.groupNames.find(std::string(name));
    return found == s_.groupNames.end() ? -1 : found->second;
  }

  // "ELSgroup": blocks of two quoted names, son and father.
  void groupHierarchy(Pos at, Pos end) {
    std::printf("\n-> Reading group hierarchie !");
    std::printf("   WARNING: currently not available !\n");
    for (;;) {
      const Pos open = find('{', at, end);
      if (open == kNone) break;
      const Pos close = closeOf(open, end);
      if (close == kNone) break;
      std::string_view names[2];
      Pos quoted[2][2] = {{close, close}, {close, close}};  // the names with their quotes
      Pos from = open + 1;
      for (int k = 0; k < 2; ++k) {
        const Pos quote = find('"', from, close);
        if (quote == kNone) break;
        from = quotedName(quote, close, names[k]);
        quoted[k][0] = quote;
        quoted[k][1] = from;
      }
      std::printf("Son : ");
      sayBytes(view(quoted[0][0], quoted[0][1]));
      std::printf(", ");
      std::printf("Father : ");
      sayBytes(view(quoted[1][0], quoted[1][1]));
      std::printf("\n");
      const std::int32_t father = groupNamed(names[1]);
      if (father >= 0) {
        s_.fathers.push_back(father);
        registerWithFather(groupNamed(names[0]));
        s_.fathers.pop_back();
      }
      at = close + 1;
    }
    std::printf("\n-> End group hierarchie !\n");
  }
};

}  // namespace

EdxParserState& edxParser() { return state(); }

void resetEdxParser() {
  EdxParserState& s = state();
  s = EdxParserState();
  s.records.reserve(10);
}

const Point3& edxPoint(const EdxRecord& record, int k) {
  return state().points[record.firstPoint + static_cast<std::uint32_t>(k)];
}

int parseEdxFile(EdxBuffer& buffer) {
  TraceScope t(kParseCode);
  std::string& text = buffer.text;
  text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n' || c == '\r'; }),
             text.end());
  std::printf("Reading file %s, number of characters after compression : %d, (original length : %d)\n",
              buffer.fileName.c_str(), static_cast<int>(text.size()), static_cast<int>(buffer.length));
  // Offsets of the walk are 32-bit.
  if (text.size() >= 0xFFFFFFFFu) return 0;
  EdxParserState& s = state();
  s.fathers.clear();
  EdxWalk walk(text, s);
  walk.processSequence(0, text.size(), 0);
  s.fathers.clear();
  return 0;
}
