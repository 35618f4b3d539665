// Fetchers of the structure elements: groups, user elements, layers,
// symbols with their parts, and the leader arrows of symbols.
//
// Group layouts after the header line ("@group 12 name"):
//   group, layer   the name is the third token of the header line; [v], [v]
//   user           a token, the name
//   userref        [v], [v], status, pen, the referenced definition's name,
//                  a token, the insertion point "x y z", layer value, factor
//   userdef, grafic, plane   [v], [v], the name
// The member identifiers that follow are linked by the element table.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "support/trace.h"
#include "transfer/fetch_common.h"
#include "transfer/fetchers.h"
#include "transfer/transfer_lines.h"

using namespace fetch_detail;

namespace {

bool isGroupKeyword(std::string_view k) {
  return k == "group" || k == "layer" || k == "user" || k == "userdef" || k == "userref" || k == "grafic" ||
         k == "plane";
}

bool isUserKeyword(std::string_view k) { return k == "user" || k == "userref" || k == "userdef"; }

std::string firstToken(std::string_view text) {
  std::size_t at = 0;
  return std::string(transfer_lines::nextToken(text, at));
}

// A pen written where a "userref" has its second field: the colour is
// taken when the line holds one (four 16-bit integers and a name),
// otherwise the line is passed over.
bool readOptionalPen(ValueReader& r, TransferRecord& out) {
  std::string line;
  if (!r.text(line)) return false;
  std::int16_t values[4] = {};
  std::size_t at = 0;
  for (std::int16_t& value : values) {
    const std::string_view token = transfer_lines::nextToken(line, at);
    int wide = 0;
    const auto result = std::from_chars(token.data(), token.data() + token.size(), wide);
    if (token.empty() || result.ec != std::errc() || result.ptr != token.data() + token.size() ||
        wide < INT16_MIN || wide > INT16_MAX) {
      return true;
    }
    value = static_cast<std::int16_t>(wide);
  }
  TransferPen pen;
  pen.colour = values[0];
  pen.red = values[1];
  pen.green = values[2];
  pen.blue = values[3];
  pen.name = transfer_lines::nextToken(line, at);
  applyPen(pen, out);
  return true;
}

int readGroupBody(ValueReader& r, const std::string& keyword, const std::string& rest, TransferGroup& out) {
  const std::string identifier = out.identifier;
  out = TransferGroup();
  out.keyword = keyword;
  out.identifier = identifier;
  const bool versioned = transferReader().fileVersion != 0;
  if (keyword == "group" || keyword == "layer") {
    out.name = firstToken(rest);
    if (versioned) {
      r.text(out.attributeText);
      r.skip();
    }
    return r.result();
  }
  if (keyword == "user") {
    r.skip();
    r.token(out.name);
    return r.result();
  }
  if (versioned) {
    r.text(out.attributeText);
    r.skip();
  }
  if (keyword == "userref") {
    readStatus(r, out);
    readOptionalPen(r, out);
    r.token(out.definitionName);
    r.skip();
    r.point3(out.insertion);
    readLayer(r, out);
    r.real(out.factor);
    out.name = out.definitionName;
    return r.result();
  }
  r.token(out.name);  // userdef, grafic, plane
  if (keyword == "userdef") out.definitionName = out.name;
  return r.result();
}

// The fetch of a group or user element once its keyword is accepted.
int fetchGroupLike(const char* code, std::int32_t position, TransferGroup& out,
                   bool (*accepts)(std::string_view), std::int32_t index, bool user) {
  std::string keyword, identifier, rest;
  if (!openElement(position, keyword, identifier, &rest)) return -99;
  debugHeader(code, identifier, position, keyword);
  if (!accepts(keyword)) return -99;
  if (user && keyword == "userdef")
    stamp(index, IgesType::kSubfigureDefinition, 0, TransferLabel::kUser);
  out.identifier = identifier;
  ValueReader r(code);
  return readGroupBody(r, keyword, rest, out);
}

struct PartKind {
  std::string_view token;
  const char* label;
};
constexpr PartKind kSymbolParts[] = {
    {"comment", TransferLabel::kComment},         {"text", TransferLabel::kText},
    {"symbol_pfeil", TransferLabel::kLeader},     {"name", TransferLabel::kName},
    {"formplace", TransferLabel::kFormTolerance}, {"reference", TransferLabel::kReference},
};

}  // namespace

int fetchGroup(std::int32_t index, std::int32_t position, TransferGroup& out) {
  TraceScope t("hse600");
  return guarded("hse600", [&] {
    // A group loaded from an EDX file keeps the form it was given there.
    const std::int32_t storedForm = isElementIndex(index) ? element(index).de.form : 0;
    stamp(index, IgesType::kAssociativityInstance, 0, TransferLabel::kGroup);
    if (copyStoredRecord(index, out)) {
      element(index).form = storedForm;
      return 0;
    }
    return fetchGroupLike("hse600", position, out, isGroupKeyword, index, false);
  });
}

int fetchUserElement(std::int32_t index, std::int32_t position, TransferGroup& out) {
  TraceScope t("hse680");
  return guarded("hse680", [&] {
    stamp(index, IgesType::kSubfigureInstance, 0, TransferLabel::kUser);
    if (copyStoredRecord(index, out)) {
      if (out.keyword == "userdef")
        stamp(index, IgesType::kSubfigureDefinition, 0, TransferLabel::kUser);
      return 0;
    }
    return fetchGroupLike("hse680", position, out, isUserKeyword, index, true);
  });
}

int fetchLayer(std::int32_t index, std::int32_t position, TransferLayer& out) {
  TraceScope t("hse888");
  return guarded("hse888", [&] {
    stamp(index, IgesType::kLayer, 0, TransferLabel::kLayer);
    std::string rest;
    if (!openRecord("hse888", position, {"layer"}, out, &rest)) return -99;
    out.headerToken = firstToken(rest);
    ValueReader r("hse888");
    readHead(r, out);
    r.text(out.name);
    return r.result();
  });
}

int fetchLeader(std::int32_t /*index*/, std::int32_t position, TransferLeader& out) {
  TraceScope t("hse214");
  return guarded("hse214", [&] {
    // A leader is a part of a symbol and has no table record of its own:
    // its form and label travel in the record.
    if (!openRecord("hse214", position, {"symbol_pfeil"}, out)) return -99;
    ValueReader r("hse214");
    readHead(r, out);
    r.token(out.headToken);
    for (double& v : out.values) r.real(v);
    if (!r.ok()) return -1;
    const Point3 ref = referencePoint();
    for (int i = 0; i < 6; i += 2) {
      out.values[i] -= ref.x;
      out.values[i + 1] -= ref.y;
    }
    if (out.headToken == "arrow") {
      out.form = 3;
      out.headSize[0] = 1.45;
      out.headSize[1] = 4.5;
    } else if (out.headToken == "triangle") {
      out.form = 3;
      out.headSize[0] = 1.0;
      out.headSize[1] = 3.0;
    } else if (out.headToken == "point") {
      out.form = 5;
      out.headSize[0] = 1.0;
      out.headSize[1] = 1.0;
    } else {
      out.form = 1;
    }
    return 0;
  });
}

int fetchSymbol(std::int32_t index, std::int32_t position, TransferSymbol& out) {
  TraceScope t("hse220");
  return guarded("hse220", [&] {
    stamp(index, IgesType::kGeneralLabel, 0, TransferLabel::kComment);
    if (!openRecord("hse220", position, {"symbol"}, out)) return -99;
    ValueReader r("hse220");
    if (!readHead(r, out)) return -1;
    const char* recordLabel = nullptr;
    for (;;) {
      std::int32_t partPosition = 0;
      std::string token;
      if (skipEndMarkers(partPosition, token) != 0) break;  // the element has ended
      std::string partToken;
      readToken(partToken);  // the part's token line, already known
      for (const PartKind& kind : kSymbolParts) {
        if (kind.token != token) continue;
        TransferSymbolPart part;
        part.token = token;
        std::copy(kind.label, kind.label + 8, part.label);
        part.position = partPosition;
        out.parts.push_back(std::move(part));
        const bool ownLabel = kind.label != TransferLabel::kText && kind.label != TransferLabel::kLeader;
        if (recordLabel == nullptr && ownLabel) recordLabel = kind.label;
      }
      // The part's values run up to its "EOE" (or the end of the element).
      if (skipToEndOfElement() != 0) break;
    }
    stamp(index, IgesType::kGeneralLabel, 0,
          recordLabel != nullptr ? recordLabel : TransferLabel::kComment);
    return 0;
  });
}
