#include "iges_out/iges_entities.h"

#include "iges_out/iges_writer.h"
#include "support/trace.h"

namespace {

// The tokens of one parameter record, packed in order; the first failure
// is kept.
class Record {
 public:
  explicit Record(std::int32_t type) { integer(type); }
  Record& integer(long value) {
    text_.clear();
    appendIgesInteger(text_, value);
    return pack(TokenClass::kInteger);
  }
  Record& real(double value) {
    text_.clear();
    appendPackedReal(text_, value);
    return pack(TokenClass::kReal);
  }
  Record& string(std::string_view text) { return token(igesString(text)); }
  Record& token(const std::string& text) {
    if (status_ == 0 && packParameter(text) != 0) status_ = -1;
    return *this;
  }
  Record& members(const std::vector<std::int32_t>& list) {
    integer(static_cast<long>(list.size()));
    for (const std::int32_t m : list) integer(m);
    return *this;
  }
  Record& pairs(const std::vector<std::pair<double, double>>& points) {
    for (const auto& [x, y] : points) real(x).real(y);
    return *this;
  }
  int end(const IgesPointerGroups& pointers) {
    if (status_ == 0 && writePointerGroups(pointers) != 0) status_ = -1;
    return status_;
  }

 private:
  Record& pack(TokenClass kind) {
    if (status_ == 0 && packParameter(text_, kind) != 0) status_ = -1;
    return *this;
  }

  int status_ = 0;
  std::string text_;
};

}  // namespace

int writePointerGroups(const IgesPointerGroups& pointers) {
  TraceScope t("vds777");
  int status = 0;
  std::string text;
  auto pack = [&](long value, bool last) {
    text.clear();
    appendIgesInteger(text, value, last);
    if (status == 0 && packParameter(text, TokenClass::kInteger) != 0) status = -1;
  };
  pack(static_cast<long>(pointers.associativities.size()), false);
  for (const std::int32_t a : pointers.associativities) pack(a, false);
  const std::size_t n = pointers.properties.size();
  pack(static_cast<long>(n), n == 0);
  for (std::size_t k = 0; k < n; ++k) pack(pointers.properties[k], k + 1 == n);
  return status;
}

int writeIgesPoint(const IgesPointParams& p) {
  TraceScope t("vds200");
  return Record(IgesType::kPoint).real(p.point.x).real(p.point.y).real(p.point.z).end(p.pointers);
}

int writeIgesLine(IgesLineParams& p) {
  TraceScope t("vds240");
  // Drawings are planar: both ends lie in z = 0.
  p.start.z = 0.0;
  p.end.z = 0.0;
  return Record(IgesType::kLine)
      .real(p.start.x)
      .real(p.start.y)
      .real(p.start.z)
      .real(p.end.x)
      .real(p.end.y)
      .real(p.end.z)
      .end(p.pointers);
}

int writeIgesArc(const IgesArcParams& p) {
  TraceScope t("vds280");
  return Record(IgesType::kCircularArc)
      .real(p.zDisplacement)
      .real(p.centreX)
      .real(p.centreY)
      .real(p.startX)
      .real(p.startY)
      .real(p.endX)
      .real(p.endY)
      .end(p.pointers);
}

int writeIgesConic(const IgesConicParams& p) {
  TraceScope t("vds320");
  Record r(IgesType::kConicArc);
  for (const double c : p.coefficients) r.real(c);
  return r.real(p.zDisplacement).real(p.startX).real(p.startY).real(p.endX).real(p.endY)
      .end(p.pointers);
}

int writeIgesSpline(const IgesSplineParams& p) {
  TraceScope t("vds330");
  // The number of segments is what the break points and the coefficients
  // can both carry: N segments need N + 1 break points.
  std::size_t segments = p.segments.size();
  if (p.breakPoints.size() < segments + 1) segments = p.breakPoints.empty() ? 0 : p.breakPoints.size() - 1;
  Record r(IgesType::kParametricSpline);
  r.integer(p.splineType).integer(p.degree).integer(p.dimensions);
  r.integer(static_cast<long>(segments));
  for (std::size_t k = 0; k <= segments && k < p.breakPoints.size(); ++k) r.real(p.breakPoints[k]);
  for (std::size_t k = 0; k < segments; ++k) {
    for (const double c : p.segments[k].x) r.real(c);
    for (const double c : p.segments[k].y) r.real(c);
    for (int c = 0; c < 4; ++c) r.real(0.0);
  }
  for (const double v : p.terminal) r.real(v);
  return r.end(p.pointers);
}

int writeIgesMatrix(const IgesMatrixParams& p) {
  TraceScope t("vds360");
  Record r(IgesType::kTransformationMatrix);
  for (int row = 0; row < 3; ++row) {
    r.real(p.rotation[row][0]).real(p.rotation[row][1]).real(p.rotation[row][2]);
    r.real(p.translation[row]);
  }
  return r.end(p.pointers);
}

int writeIgesColour(const IgesColourParams& p) {
  TraceScope t("vds314");
  return Record(IgesType::kColourDefinition)
      .token(igesShortReal(p.red))
      .token(igesShortReal(p.green))
      .token(igesShortReal(p.blue))
      .string(p.name)
      .end(p.pointers);
}

int writeIgesComposite(const IgesMemberParams& p) {
  TraceScope t("vds700");
  return Record(IgesType::kCompositeCurve).members(p.members).end(p.pointers);
}

int writeIgesCopious(const IgesCopiousParams& p) {
  TraceScope t("vds710");
  return Record(IgesType::kCopiousData)
      .integer(1)
      .integer(static_cast<long>(p.points.size()))
      .real(0.0)
      .pairs(p.points)
      .end(p.pointers);
}

int writeIgesWitnessLine(const IgesCopiousParams& p) {
  TraceScope t("vds522");
  return Record(IgesType::kCopiousData)
      .integer(p.interpretation)
      .integer(static_cast<long>(p.points.size()))
      .real(p.z)
      .pairs(p.points)
      .end(p.pointers);
}

int writeIgesLeader(const IgesLeaderParams& p) {
  TraceScope t("vds520");
  return Record(IgesType::kLeader)
      .integer(static_cast<long>(p.segmentEnds.size()))
      .real(p.arrowHeight)
      .real(p.arrowWidth)
      .real(p.z)
      .real(p.headX)
      .real(p.headY)
      .pairs(p.segmentEnds)
      .end(p.pointers);
}

int writeIgesDiameterDimension(const IgesDiameterParams& p) {
  TraceScope t("vds518");
  return Record(IgesType::kDiameterDimension)
      .integer(p.note)
      .integer(p.firstLeader)
      .integer(p.secondLeader)
      .real(p.centreX)
      .real(p.centreY)
      .end(p.pointers);
}

int writeIgesAngularDimension(const IgesAngularParams& p) {
  TraceScope t("vds514");
  return Record(IgesType::kAngularDimension)
      .integer(p.note)
      .integer(p.firstWitness)
      .integer(p.secondWitness)
      .real(p.vertexX)
      .real(p.vertexY)
      .real(p.radius)
      .integer(p.firstLeader)
      .integer(p.secondLeader)
      .end(p.pointers);
}

int writeIgesRadiusDimension(const IgesRadiusParams& p) {
  TraceScope t("vds512");
  Record r(IgesType::kRadiusDimension);
  r.integer(p.note).integer(p.leader).real(p.centreX).real(p.centreY);
  if (p.form1) r.integer(p.secondLeader);
  return r.end(p.pointers);
}

int writeIgesLinearDimension(const IgesLinearDimensionParams& p) {
  TraceScope t("vds510");
  Record r(IgesType::kLinearDimension);
  for (int k = 0; k < 5; ++k) r.integer(k < p.memberCount ? p.members[k] : 0);
  return r.end(p.pointers);
}

int writeIgesAssociativity(const IgesMemberParams& p) {
  TraceScope t("vds505");
  return Record(IgesType::kAssociativityInstance).members(p.members).end(p.pointers);
}

int writeIgesProperty(const IgesPropertyParams& p) {
  TraceScope t("vds580");
  return Record(IgesType::kProperty).integer(p.valueCount).string(p.value).end(p.pointers);
}

int writeIgesNote(const IgesNoteParams& p) {
  TraceScope t("vds440");
  Record r(IgesType::kGeneralNote);
  r.integer(static_cast<long>(p.strings.size()));
  for (const IgesNoteString& s : p.strings) {
    r.integer(s.characterCount).real(s.boxWidth).real(s.boxHeight).integer(s.fontCode);
    r.real(s.slantAngle).real(s.rotationAngle).integer(s.mirrorFlag).integer(s.rotateFlag);
    r.real(s.startX).real(s.startY).real(s.startZ);
    // An empty text would leave the field empty; a note line always holds
    // one character.
    if (s.text.empty())
      r.token("1H ,");
    else
      r.string(s.text);
  }
  return r.end(p.pointers);
}

int writeIgesSectionedArea(const IgesSectionedAreaParams& p) {
  TraceScope t("vds410");
  return Record(IgesType::kSectionedArea)
      .integer(p.boundary)
      .integer(p.pattern)
      .real(p.patternX)
      .real(p.patternY)
      .real(0.0)
      .real(p.distance)
      .real(p.angle)
      .members(p.islands)
      .end(p.pointers);
}

int writeIgesUserInstance(const IgesInstanceParams& p) {
  TraceScope t("vds680");
  return Record(IgesType::kSubfigureInstance)
      .integer(p.definition)
      .real(p.x)
      .real(p.y)
      .real(p.z)
      .real(p.scale)
      .end(p.pointers);
}

int writeIgesDefinition(const IgesDefinitionParams& p) {
  TraceScope t("vds690");
  return Record(IgesType::kSubfigureDefinition)
      .integer(p.depth)
      .string(p.name)
      .members(p.members)
      .end(p.pointers);
}

int writeIgesGeneric(std::int32_t entityType, const IgesMemberParams& p) {
  TraceScope t("vds610");
  return Record(entityType).members(p.members).end(p.pointers);
}

int writeIgesLabel(const IgesLabelParams& p) {
  TraceScope t("vds220");
  return Record(IgesType::kGeneralLabel).integer(p.note).members(p.leaders).end(p.pointers);
}
