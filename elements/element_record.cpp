// The element record: construction, moving and the release of its lists and
// owned blocks.
#include <cstdio>
#include <utility>

#include "elements/element_table.h"
#include "support/trace.h"

// A table holds one record per element: a field added to it costs as much
// as the field times the elements of the largest drawing.
static_assert(sizeof(void*) != 8 || sizeof(ElementRecord) <= 160, "the element record has grown");

namespace {

// Types whose parameter record has a release step of its own.
constexpr std::int32_t kReleasableTypes[] = {IgesType::kCircularArc,
                                             IgesType::kCompositeCurve,
                                             IgesType::kConicArc,
                                             IgesType::kCopiousData,
                                             IgesType::kPlane,
                                             IgesType::kLine,
                                             IgesType::kParametricSpline,
                                             IgesType::kPoint,
                                             IgesType::kRuledSurface,
                                             IgesType::kSurfaceOfRevolution,
                                             IgesType::kTabulatedCylinder,
                                             IgesType::kTransformationMatrix,
                                             IgesType::kFlash,
                                             IgesType::kBSplineCurve,
                                             IgesType::kAngularDimension,
                                             IgesType::kDiameterDimension,
                                             IgesType::kGeneralLabel,
                                             IgesType::kGeneralNote,
                                             IgesType::kLeader,
                                             IgesType::kLinearDimension,
                                             IgesType::kOrdinateDimension,
                                             IgesType::kPointDimension,
                                             IgesType::kRadiusDimension,
                                             IgesType::kGeneralSymbol,
                                             IgesType::kSectionedArea,
                                             IgesType::kSubfigureDefinition,
                                             IgesType::kColourDefinition,
                                             IgesType::kAssociativityInstance,
                                             IgesType::kDrawing,
                                             IgesType::kProperty,
                                             IgesType::kSubfigureInstance,
                                             IgesType::kView,
                                             IgesType::kTransferDimension,
                                             999,
                                             IgesType::kLayer};

bool hasReleaseStep(std::int32_t type) {
  for (std::int32_t t : kReleasableTypes) {
    if (t == type) return true;
  }
  return false;
}

void freeList(NodeRef& head) {
  LinkNode* node = head;
  head = nullptr;
  while (node != nullptr) {
    LinkNode* next = node->next;
    linkStore.release(node);
    node = next;
  }
}

}  // namespace

ElementRecord::ElementRecord(ElementRecord&& other) noexcept { *this = std::move(other); }

ElementRecord& ElementRecord::operator=(ElementRecord&& other) noexcept {
  if (this == &other) return *this;
  releaseLists();
  type = other.type;
  form = other.form;
  outputKind = other.outputKind;
  outputSubKind = other.outputSubKind;
  classBits = other.classBits;
  dependency = other.dependency;
  de = other.de;
  sonCount = std::exchange(other.sonCount, 0);
  sons = std::exchange(other.sons, nullptr);
  sonCursor = std::exchange(other.sonCursor, nullptr);
  sonCursor2 = std::exchange(other.sonCursor2, nullptr);
  fatherCount = std::exchange(other.fatherCount, 0);
  fathers = std::exchange(other.fathers, nullptr);
  fatherCursor = std::exchange(other.fatherCursor, nullptr);
  state = other.state;
  failureReported = other.failureReported;
  matrix = std::move(other.matrix);
  params = std::move(other.params);
  scriptObjects = std::move(other.scriptObjects);
  other.scriptObjects.clear();
  transferId = std::exchange(other.transferId, 0);
  side = std::move(other.side);
  walkMark = other.walkMark;
  sonsUnordered = other.sonsUnordered;
  other.sonsUnordered = false;
  return *this;
}

ElementRecord::~ElementRecord() { releaseLists(); }

// Releases the son and father lists and every owned block.  A parameter
// record of a type that has no release step of its own is reported (it is
// still released: every record goes through its virtual destructor).
void ElementRecord::releaseLists() {
  TraceScope t("ldv135");
  freeList(sons);
  freeList(fathers);
  sonCount = 0;
  fatherCount = 0;
  sonCursor = nullptr;
  sonCursor2 = nullptr;
  fatherCursor = nullptr;
  sonsUnordered = false;
  if (params && !hasReleaseStep(type)) {
    std::printf("\n-> Unbekannter Typ (%d) beim freigeben (igs_strc.c), bitte eintragen !!!\n\n",
                static_cast<int>(type));
    std::fflush(stdout);
  }
  params.reset();
  matrix.reset();
  scriptObjects.clear();
  scriptObjects.shrink_to_fit();
  transferId = 0;
  side.reset();
}

ElementSide& ElementRecord::sideRecord() {
  if (!side) side = std::make_unique<ElementSide>();
  return *side;
}

namespace {
const std::vector<std::int32_t> kNoIndices;
}  // namespace

const std::vector<std::int32_t>& ElementRecord::assocs() const { return side ? side->assocs : kNoIndices; }
const std::vector<std::int32_t>& ElementRecord::props() const { return side ? side->props : kNoIndices; }
