#include "iges_in/iges_script_source.h"

#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

#include "elements/element_table.h"
#include "script/script_writer.h"
#include "support/run_state.h"

namespace {

constexpr std::int32_t kZOrderForm = 6731;

bool isZOrderProperty(std::int32_t index) {
  if (!isElementIndex(index)) return false;
  const ElementRecord& e = element(index);
  return e.type == IgesType::kProperty && e.form == kZOrderForm;
}

bool tableHasZOrderProperty() {
  const ElementTable& table = elementTable();
  for (std::int32_t i = 1; i <= table.lastIndex && i < table.capacity; ++i) {
    if (isZOrderProperty(i)) return true;
  }
  return false;
}

// The z-order of one script: the member positions of each property (made
// on first use) and the answers found so far.  The links do not change
// while the script is written.
struct ZOrder {
  std::unordered_map<std::int32_t, std::unordered_map<std::int32_t, int>> positions;
  std::unordered_map<std::int32_t, int> memo;

  // The element's 0-based place in the member list of a z-order property.
  int memberPosition(std::int32_t property, std::int32_t member) {
    auto it = positions.find(property);
    if (it == positions.end()) {
      std::unordered_map<std::int32_t, int> places;
      int k = 0;
      for (const LinkNode* n = element(property).sons; n != nullptr; n = n->next, ++k) places.emplace(n->index, k);
      it = positions.emplace(property, std::move(places)).first;
    }
    const auto place = it->second.find(member);
    return place == it->second.end() ? -1 : place->second;
  }

  // The place through a z-order property among the element's fathers.
  int direct(std::int32_t i) {
    for (const LinkNode* f = element(i).fathers; f != nullptr; f = f->next) {
      if (!isZOrderProperty(f->index)) continue;
      const int k = memberPosition(f->index, i);
      if (k >= 0) return k;
    }
    return -1;
  }

  // The place of the element: through a z-order property among its fathers,
  // else that of the first of its fathers (in list order) that has one,
  // found the same way.  -1 when there is none.
  int of(std::int32_t index) {
    if (!isElementIndex(index)) return -1;
    constexpr int kOpen = -2;  // being searched (a loop of fathers leads back)
    if (const auto it = memo.find(index); it != memo.end()) return it->second < 0 ? -1 : it->second;
    const int k = direct(index);
    memo[index] = k >= 0 ? k : kOpen;
    if (k >= 0) return k;
    // Depth first over the fathers; a father that answers answers for every
    // element on the way down to it.
    struct Frame {
      std::int32_t node;
      const LinkNode* next;
    };
    std::vector<Frame> stack{Frame{index, element(index).fathers}};
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.next == nullptr) {
        memo[f.node] = -1;
        stack.pop_back();
        continue;
      }
      const std::int32_t father = f.next->index;
      f.next = f.next->next;
      if (!isElementIndex(father)) continue;
      int v;
      if (const auto it = memo.find(father); it != memo.end()) {
        if (it->second < 0) continue;
        v = it->second;
      } else if ((v = direct(father)) >= 0) {
        memo[father] = v;
      } else {
        memo[father] = kOpen;
        stack.push_back(Frame{father, element(father).fathers});
        continue;
      }
      for (const Frame& g : stack) memo[g.node] = v;
      stack.clear();
    }
    return memo[index] < 0 ? -1 : memo[index];
  }
};

// A negative colour of an element is the negated DE number of its colour
// definition (314), whose palette colour was chosen when the definition was
// read; 0 when there is no such definition.
int definedColourOf(long colour) {
  if (colour >= 0 || colour < -2147483647L) return 0;
  const std::int32_t index = indexOfPointer(static_cast<std::int32_t>(-colour));
  if (!isElementIndex(index)) return 0;
  const auto* rec = dynamic_cast<const ColourRecord*>(element(index).params.get());
  return rec != nullptr ? rec->colourIndex : 0;
}

}  // namespace

void igesScriptSourceOfTable(ScriptSource& source) {
  if (!runIsIges()) return;
  source.definedColourOf = definedColourOf;
  if (runState().useToolkit != 0 || !tableHasZOrderProperty()) return;
  source.zOrderProperty = true;
  auto order = std::make_shared<ZOrder>();
  source.zOrderOf = [order](std::int32_t index) { return order->of(index); };
}
