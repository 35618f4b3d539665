// IGES output steps of the composite kinds: a group is an associativity
// instance (402 form 7) with its name as a property (406 form 15, dpe580)
// at level PLUS; a user element definition a subfigure definition (308), a
// reference a subfigure instance (408); a contour a composite curve (102);
// a plane part a sectioned area (230) over its boundary contours, loose
// boundary curves joined into composite curves of their own.
#include <algorithm>
#include <string>
#include <vector>

#include "elements/convert_result.h"
#include "elements/element_table.h"
#include "iges_out/iges_directory.h"
#include "iges_out/iges_entities.h"
#include "iges_out/iges_steps.h"
#include "support/run_state.h"
#include "support/trace.h"

using namespace iges_steps;

namespace {

// Forms and labels of the entities the composites become.
constexpr std::int32_t kGroupForm = 7;     // 402: unordered group without back pointers
constexpr std::int32_t kNameForm = 15;     // 406: name property
constexpr char kNameLabel[] = "NAME    ";
constexpr char kContourLabel[] = "CONTOUR ";

// A name property, a contour of loose curves: parts of their element.
constexpr EntityStatus kPhysicallyDependent{0, 1, 0, 0};

bool plusLevel() { return runHas(RunModeBit::kPlus); }

// dpe580: the name property of a group; its directory sequence number, 0
// when the group has no name, -1 on a write failure.
std::int32_t writeNameProperty(const TransferRecord& record, const std::string& name) {
  TraceScope t("dpe580");
  if (name.empty()) return 0;
  IgesPropertyParams params;
  params.valueCount = 1;
  params.value = name;
  const std::int32_t start = beginEntity();
  if (writeIgesProperty(params) != 0) return -1;
  DirectoryEntry de = partEntry(record, kNameLabel);
  return writeEntity(de, IgesType::kProperty, kNameForm, start, kPhysicallyDependent);
}

// Nesting depth of a definition: 0 when it holds no instance, else one
// more than the deepest definition its instances refer to.  A written
// instance keeps that number (its definition's depth plus one) in its
// outputSubKind.
std::int32_t definitionDepth(const std::vector<std::int32_t>& memberIndices) {
  std::int32_t depth = 0;
  for (std::int32_t member : memberIndices) {
    if (element(member).outputKind == IgesType::kSubfigureInstance)
      depth = std::max(depth, element(member).outputSubKind);
  }
  return depth;
}

}  // namespace

// A member written before (shared by two composites) is pointed at again;
// one that wrote no entity of its own is left out.
std::int32_t IgesSteps::memberReference(std::int32_t index) {
  return std::max(element(index).de.sequence, 0);
}

int IgesSteps::group(const StepContext& c, const TransferGroup& g, const WrittenMembers& members) {
  IgesMemberParams params;
  params.members = members.references;
  if (plusLevel()) {
    const std::int32_t name = writeNameProperty(g, g.name);
    if (name < 0) return -1;
    if (name > 0) params.pointers.properties.push_back(name);
  }
  const std::int32_t start = beginEntity();
  if (writeIgesAssociativity(params) != 0) return -1;
  return writeElementEntity(c, g, IgesType::kAssociativityInstance, kGroupForm, start);
}

int IgesSteps::userDefinition(const StepContext& c, const TransferGroup& g,
                              const WrittenMembers& members) {
  IgesDefinitionParams params;
  params.depth = definitionDepth(members.indices);
  params.name = g.name;
  params.members = members.references;
  element(c.index).outputSubKind = params.depth;
  const std::int32_t start = beginEntity();
  if (writeIgesDefinition(params) != 0) return -1;
  StepContext own = c;
  own.status = EntityStatus{};
  own.status.use = 2;  // a definition
  return writeElementEntity(own, g, IgesType::kSubfigureDefinition, 0, start);
}

int IgesSteps::userInstance(const StepContext& c, const TransferGroup& g, std::int32_t definition) {
  const ElementRecord& d = element(definition);
  if (d.outputKind != IgesType::kSubfigureDefinition || d.de.sequence <= 0) return ConvertResult::kTakenOver;
  IgesInstanceParams params;
  params.definition = d.de.sequence;
  params.x = g.insertion.x;
  params.y = g.insertion.y;
  params.z = g.insertion.z;
  params.scale = g.factor;
  element(c.index).outputSubKind = d.outputSubKind + 1;
  const std::int32_t start = beginEntity();
  if (writeIgesUserInstance(params) != 0) return -1;
  return writeElementEntity(c, g, IgesType::kSubfigureInstance, 0, start);
}

int IgesSteps::contour(const StepContext& c, const TransferContour& contour, const WrittenMembers& members) {
  IgesMemberParams params;
  params.members = members.references;
  const std::int32_t start = beginEntity();
  if (writeIgesComposite(params) != 0) return -1;
  return writeElementEntity(c, contour, IgesType::kCompositeCurve, 0, start);
}

// A contour made of loose member curves: a new 102 record of the table,
// written with the plane part's attributes.  Its directory sequence
// number, or -1.
std::int32_t IgesSteps::looseContour(const StepContext& /*c*/, const TransferPlanePart& part,
                                     const std::vector<std::int32_t>& curves) {
  const std::int32_t index = appendOutputRecord(IgesType::kCompositeCurve, 0, kContourLabel);
  if (index < 0) return -1;
  IgesMemberParams params;
  params.members = curves;
  const std::int32_t start = beginEntity();
  if (writeIgesComposite(params) != 0) return -1;
  ElementRecord& e = element(index);
  DirectoryEntry de = partEntry(part, kContourLabel);
  de.subscript = index;
  e.outputKind = IgesType::kCompositeCurve;
  const std::int32_t written = writeEntity(de, IgesType::kCompositeCurve, 0, start, kPhysicallyDependent);
  setDirectoryEntry(index, de);
  if (written < 0) return -1;
  setState(index, ElementState::kDone);
  classifyElement(index);
  return element(index).de.sequence;
}

// Below PLUS the boundary contours are the plane part's geometry; the
// sectioned area that fills them belongs to the full scope.
int IgesSteps::planePart(const StepContext& c, const TransferPlanePart& part,
                         const std::vector<std::int32_t>& contours) {
  if (!plusLevel()) return ConvertResult::kDone;
  if (contours.empty()) return -1;  // no contour written to bound the area
  IgesSectionedAreaParams params;
  params.boundary = contours.front();
  params.pattern = part.hatchKind;
  params.distance = part.hatchSpacing;
  params.angle = part.hatchAngle;
  params.islands.assign(contours.begin() + 1, contours.end());
  const std::int32_t start = beginEntity();
  if (writeIgesSectionedArea(params) != 0) return -1;
  return writeElementEntity(c, part, IgesType::kSectionedArea, 0, start);
}
