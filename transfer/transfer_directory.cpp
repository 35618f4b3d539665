// CAD transfer file: the directory pass (element keywords, types, positions
// and the identifier index), the member lists of composite elements, and the
// loading of the element table from them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "elements/element_table.h"
#include "support/messages.h"
#include "support/trace.h"
#include "transfer/transfer_lines.h"
#include "transfer/transfer_reader.h"

using namespace transfer_lines;

namespace {

struct KeywordType {
  std::string_view keyword;
  std::int32_t type;
};

// Element keywords and the IGES entity type of their elements.  The "d_"
// keywords are the drawing primitives of dimension frames and symbols; at
// top level they are typed like their plain counterparts.
constexpr KeywordType kElementTypes[] = {
    {"line", IgesType::kLine},
    {"d_line", IgesType::kLine},
    {"circle", IgesType::kCircularArc},
    {"d_circle", IgesType::kCircularArc},
    {"d_fill_arc", IgesType::kCircularArc},
    {"d_arc_3p", IgesType::kCircularArc},
    {"point", IgesType::kPoint},
    {"d_point", IgesType::kPoint},
    {"spline", IgesType::kParametricSpline},
    {"contour", IgesType::kCompositeCurve},
    {"contour_part", IgesType::kCompositeCurve},
    {"plane_part", IgesType::kSectionedArea},
    {"plane", IgesType::kAssociativityInstance},
    {"group", IgesType::kAssociativityInstance},
    {"grafic", IgesType::kAssociativityInstance},
    {"hatch", IgesType::kCopiousData},
    {"d_multiline", IgesType::kCopiousData},
    {"d_polyline", IgesType::kCopiousData},
    {"d_rectangle", IgesType::kCopiousData},
    {"d_fill_rectangle", IgesType::kCopiousData},
    {"d_triangle", IgesType::kCopiousData},
    {"d_nonfill_triangle", IgesType::kCopiousData},
    {"d_fill_polygon", IgesType::kCopiousData},
    {"measure", IgesType::kTransferDimension},
    {"measure_distance", IgesType::kTransferDimension},
    {"dimension_angular", IgesType::kTransferDimension},
    {"dimension_diameter", IgesType::kTransferDimension},
    {"dimension_distance", IgesType::kTransferDimension},
    {"dimension_radius", IgesType::kTransferDimension},
    {"userdef", IgesType::kSubfigureDefinition},
    {"user", IgesType::kSubfigureInstance},
    {"userref", IgesType::kSubfigureInstance},
    {"layer", IgesType::kLayer},
    {"text", IgesType::kGeneralNote},
    {"textblock", IgesType::kGeneralNote},
    {"variable", IgesType::kGeneralNote},
    {"d_string_angle", IgesType::kGeneralNote},
    {"d_string_angle_em", IgesType::kGeneralNote},
    {"ellips", IgesType::kConicArc},
    {"d_ellips", IgesType::kConicArc},
    {"d_arc_ellips", IgesType::kConicArc},
    {"symbol", IgesType::kGeneralLabel},
};

// Composite elements name their members on value lines after their own
// fields: `versionLines` leading lines (attribute text and a token) present
// when the file version is not 0, then `ownLines` fields, then one member
// identifier per line up to "end" or the next section.
struct MemberLayout {
  std::string_view keyword;
  int versionLines;
  int ownLines;
};
constexpr MemberLayout kMemberLayouts[] = {
    {"group", 2, 0},             // the name is on the header line
    {"layer", 2, 3},             // status, pen, name
    {"measure", 2, 2},           // status, pen
    {"measure_distance", 2, 2},  // status, pen
    {"plane", 2, 1},             // name
    {"grafic", 2, 1},            // name
    {"userdef", 2, 1},           // name
    {"user", 0, 2},              // a token, name
    {"userref", 2, 7},           // status, pen, name, a token, point, layer, factor
    {"contour", 0, 1},           // layer
    {"contour_part", 2, 4},      // status, pen, layer, orientation
    {"plane_part", 2, 6},        // status, an integer, layer, hatch kind, two reals
};

const MemberLayout* memberLayoutOf(std::string_view keyword) {
  for (const MemberLayout& layout : kMemberLayouts) {
    if (layout.keyword == keyword) return &layout;
  }
  return nullptr;
}

// Passes over `count` value lines; false when the section ends first.
bool skipValueLines(int count) {
  for (int i = 0; i < count; ++i) {
    if (nextValueLine() != 0) return false;
    skipRestOfLine();
  }
  return true;
}

// The definition name of a "userdef" or "userref" section whose header line
// was just read; false when the section holds none.
bool readDefinitionName(std::string_view keyword, std::string& name) {
  const TransferReaderState& s = transferReader();
  const int versionLines = s.fileVersion != 0 ? 2 : 0;
  if (keyword == "userdef") return skipValueLines(versionLines) && readToken(name) == 0;
  // "userref": two fields before the name of the referenced definition.
  return skipValueLines(versionLines + 2) && readToken(name) == 0;
}

}  // namespace

std::int32_t elementTypeOfKeyword(std::string_view keyword) {
  for (const KeywordType& entry : kElementTypes) {
    if (entry.keyword == keyword) return entry.type;
  }
  return 0;
}

int nextElementHeader(std::int32_t& position, std::int32_t& type, TransferAttributes* extra) {
  TraceScope t("hse110");
  TransferReaderState& s = transferReader();
  type = 0;
  if (!s.open || skipToSection() != 0) {
    s.lastStop = TransferStop::kEndOfFile;
    return -99;
  }
  position = s.fileSize - static_cast<std::int32_t>(s.offset);
  const std::string_view line = takeRestOfLine();
  const std::size_t afterHeader = s.offset;
  std::size_t at = 0;
  const std::string keyword(nextToken(line, at));
  const std::string identifier(nextToken(line, at));
  type = elementTypeOfKeyword(keyword);
  if (keyword == "userdef" || keyword == "userref") {
    std::string name;
    if (readDefinitionName(keyword, name) && extra != nullptr) {
      extra->name = name;
      ++s.definitionNames;
    }
    // The scan goes on after the header line, whatever the name's read met.
    s.offset = afterHeader;
  }
  if (type != 0) s.transferIdIndex.insert(identifier, position);
  s.lastStop = TransferStop::kNone;
  return 0;
}

void resetMembers() {
  TraceScope t("hse120");
  transferReader().walk = TransferReaderState::MemberWalk();
}

int nextMember(std::int32_t /*index*/, std::int32_t position, std::int32_t& memberPosition) {
  TraceScope t("hse131");
  TransferReaderState& s = transferReader();
  TransferReaderState::MemberWalk& walk = s.walk;
  if (!walk.started || walk.position != position) {
    walk = TransferReaderState::MemberWalk();
    walk.started = true;
    walk.position = position;
    s.memberListCut = false;
    std::string keyword, identifier;
    const MemberLayout* layout = nullptr;
    if (seekToElement(position, keyword, identifier) == 0) layout = memberLayoutOf(keyword);
    if (layout == nullptr) {
      walk.noList = true;
      return -2;
    }
    const int own = layout->ownLines + (s.fileVersion != 0 ? layout->versionLines : 0);
    walk.ended = !skipValueLines(own);
    walk.offset = s.offset;
    if (walk.ended && s.lastStop == TransferStop::kEndOfFile) s.memberListCut = true;
  }
  if (walk.noList) return -2;
  if (walk.ended) return 1;
  // The walk keeps its own offset: reads between two calls do not disturb it.
  s.offset = walk.offset;
  for (;;) {
    if (nextValueLine() != 0) break;
    std::size_t at = 0;
    const std::string_view token = nextToken(takeRestOfLine(), at);
    if (token == "end") break;
    const std::optional<std::int32_t> found = s.transferIdIndex.find(token);
    if (found) {
      walk.offset = s.offset;
      memberPosition = *found;
      return 0;
    }
    // A value that names no element is passed over.
  }
  if (s.lastStop == TransferStop::kEndOfFile) s.memberListCut = true;
  walk.ended = true;
  return 1;
}

std::string transferIdentifierAt(std::int32_t position) {
  std::string keyword, identifier;
  if (seekToElement(position, keyword, identifier) != 0) return "";
  return identifier;
}

int transferMembersOf(std::int32_t index, std::vector<std::int32_t>& positions) {
  positions.clear();
  if (!isElementIndex(index)) return -1;
  const std::int32_t position = element(index).transferId;
  resetMembers();
  std::int32_t member = 0;
  while (nextMember(index, position, member) == 0) positions.push_back(member);
  resetMembers();
  return 0;
}

namespace {

struct MemberEdge {
  std::int32_t position;
  std::int32_t index;
  bool kept;
};

// The member links of all elements, element by element in index order:
// those of index i are links[first[i]] up to links[first[i + 1]].  (A
// member line takes at least three bytes, so the count fits 32 bits.)
struct MemberEdges {
  std::vector<std::uint32_t> first;
  std::vector<MemberEdge> links;

  std::size_t elements() const { return first.empty() ? 0 : first.size() - 1; }
  bool none(std::size_t i) const { return first[i] == first[i + 1]; }
};

// The member lists of every composite element of the table as edges
// between table indices; a member named twice, and the element itself, are
// dropped.
int collectMembers(MemberEdges& edges, std::vector<char>& cut) {
  const ElementTable& table = elementTable();
  const std::int32_t last = table.lastIndex;
  edges.first.assign(static_cast<std::size_t>(last) + 2, 0);
  edges.links.clear();
  cut.assign(static_cast<std::size_t>(last) + 1, 0);
  std::vector<std::int32_t> seenIn(static_cast<std::size_t>(last) + 1, 0);
  std::vector<std::int32_t> positions;
  std::int32_t near = 0;  // the last member found: the next is mostly close by
  for (std::int32_t i = 1; i <= last; ++i) {
    edges.first[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(edges.links.size());
    if (!linksTransferMembers(table.records[i].type)) continue;
    if (transferMembersOf(i, positions) != 0) return -1;
    cut[static_cast<std::size_t>(i)] = transferReader().memberListCut ? 1 : 0;
    for (std::int32_t position : positions) {
      const std::int32_t j = findByIdNear(position, near);
      if (j < 1) continue;
      near = j;
      if (j == i || seenIn[j] == i) continue;
      seenIn[j] = i;
      edges.links.push_back(MemberEdge{position, j, true});
    }
  }
  edges.first[static_cast<std::size_t>(last) + 1] = static_cast<std::uint32_t>(edges.links.size());
  return 0;
}

// Drops every member link that closes a cycle: a depth-first walk over the
// composite elements in file order (the table is sorted by position, which
// counts from the end), members in list order; a link back to an element on
// the walk's path would make the element its own descendant, so when A
// holds B, B holds C and C names A, the link from C to A goes, and warning
// 1326 names C.  Linear in elements and links.
void breakMemberCycles(MemberEdges& edges) {
  const std::size_t n = edges.elements();
  std::vector<char> colour(n, 0);  // 0 unseen, 1 on the path, 2 done
  struct Frame {
    std::size_t node;
    std::size_t next;
  };
  std::vector<Frame> path;
  for (std::size_t root = n; root-- > 1;) {
    if (colour[root] != 0 || edges.none(root)) continue;
    colour[root] = 1;
    path.push_back(Frame{root, edges.first[root]});
    while (!path.empty()) {
      Frame& top = path.back();
      if (top.next == edges.first[top.node + 1]) {
        colour[top.node] = 2;
        path.pop_back();
        continue;
      }
      MemberEdge& edge = edges.links[top.next++];
      const std::size_t to = static_cast<std::size_t>(edge.index);
      if (colour[to] == 1) {
        edge.kept = false;
        mfaReport("hse115", kMsgMemberCycle, Channel::kProtocol, Severity::kWarning, {}, {},
                  transferIdentifierAt(element(static_cast<std::int32_t>(top.node)).transferId), nullptr);
      } else if (colour[to] == 0) {
        colour[to] = 1;
        path.push_back(Frame{to, edges.first[to]});
      }
    }
  }
}

// Composite elements that the file ends inside, and groups and contours
// left without any member (they end in error): a warning naming each by
// its identifier.
void reportIncompleteComposites(const std::vector<char>& cut) {
  const ElementTable& table = elementTable();
  for (std::int32_t i = 1; i <= table.lastIndex && static_cast<std::size_t>(i) < cut.size(); ++i) {
    const ElementRecord& e = table.records[i];
    int number = 0;
    if (cut[static_cast<std::size_t>(i)] != 0) {
      number = kMsgElementCut;
    } else if ((e.type == IgesType::kAssociativityInstance ||
                e.type == IgesType::kCompositeCurve) &&
               e.sons == nullptr) {
      number = kMsgNoMembers;
    } else {
      continue;
    }
    mfaReport("hse115", number, Channel::kProtocol, Severity::kWarning, {}, {},
              transferIdentifierAt(e.transferId), nullptr);
  }
}

// The lines that begin with '@' (an upper bound of the elements).
std::size_t sectionLineCount(const std::string& bytes) {
  std::size_t count = 0;
  for (std::size_t at = bytes.find('@'); at != std::string::npos; at = bytes.find('@', at + 1))
    if (at == 0 || bytes[at - 1] == '\n') ++count;
  return count;
}

}  // namespace

int loadTransferTable() {
  TraceScope t("hse115");
  TransferReaderState& s = transferReader();
  if (!s.open) return -1;
  try {
    s.transferIdIndex.clear();
    rewindTransferFile();
    // The nodes of the list live here, not each on the heap; room for one
    // per section line.
    std::vector<TransferListNode> owned;
    const std::size_t sections = sectionLineCount(s.bytes);
    owned.reserve(sections);
    s.transferIdIndex.reserve(sections);
    std::int32_t position = 0, type = 0;
    for (;;) {
      TransferAttributes extra;
      s.endOfFileMet = false;
      if (nextElementHeader(position, type, &extra) != 0) break;
      if (type == 0 && s.endOfFileMet) {
        // The file ends inside a section's header line: an element whose
        // keyword is cut cannot be told from an unknown one, so it is named
        // by what is left of its header.
        const std::size_t offset = s.offset;
        std::string keyword, identifier;
        if (seekToElement(position, keyword, identifier) == 0)
          mfaReport("hse115", kMsgElementCut, Channel::kProtocol, Severity::kWarning, {}, {},
                    identifier.empty() ? keyword : keyword + " " + identifier, nullptr);
        s.offset = offset;
      }
      if (type == 0) continue;
      TransferListNode& node = owned.emplace_back();
      node.id = position;
      node.type = type;
      if (!extra.name.empty()) node.attrs = std::make_unique<TransferAttributes>(std::move(extra));
    }
    std::vector<TransferListNode*> nodes;
    nodes.reserve(owned.size());
    for (TransferListNode& node : owned) nodes.push_back(&node);
    const int loaded = loadTransferElements(loadTransferList(std::move(nodes)));
    owned.clear();
    owned.shrink_to_fit();
    if (loaded != 0) return -1;

    MemberEdges edges;
    std::vector<char> cut;
    if (collectMembers(edges, cut) != 0) return -1;
    breakMemberCycles(edges);
    const int linked = linkTransferElements([&edges](std::int32_t index, std::vector<std::int32_t>& ids) {
      if (index < 1 || static_cast<std::size_t>(index) >= edges.elements()) return 0;
      const auto i = static_cast<std::size_t>(index);
      for (std::size_t k = edges.first[i]; k < edges.first[i + 1]; ++k) {
        if (edges.links[k].kept) ids.push_back(edges.links[k].position);
      }
      return 0;
    });
    if (linked == 0) reportIncompleteComposites(cut);
    rewindTransferFile();
    return linked == 0 ? 0 : -1;
  } catch (const std::bad_alloc&) {
    return -1;
  }
}
