// Loading the elements of the CAD transfer file into the element table
// (output directions): the id-sorted list, the slots, and the links between
// complex elements and their members.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "elements/element_table.h"
#include "support/config.h"
#include "support/progress_line.h"
#include "support/trace.h"

bool linksTransferMembers(std::int32_t type) {
  return type == IgesType::kCompositeCurve || type == IgesType::kSectionedArea ||
         type == IgesType::kSubfigureDefinition || type == IgesType::kAssociativityInstance ||
         type == IgesType::kSubfigureInstance || type == IgesType::kTransferDimension;
}

std::int32_t findById(std::int32_t id, std::int32_t low, std::int32_t high) {
  TraceScope t("ldv160");
  const ElementTable& table = elementTable();
  if (low < 1) low = 1;
  if (high > table.lastIndex) high = table.lastIndex;
  if (high >= table.capacity) high = table.capacity - 1;
  while (low <= high) {
    const std::int32_t middle = low + (high - low) / 2;
    const std::int32_t here = table.records[middle].transferId;
    if (here == id) return middle;
    if (here < id) {
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  return -1;
}

std::int32_t findByIdNear(std::int32_t id, std::int32_t hint) {
  const ElementTable& table = elementTable();
  const std::int32_t last = std::min(table.lastIndex, table.capacity - 1);
  if (hint < 1 || hint > last) return findById(id, 1, last);
  const std::int32_t here = table.records[hint].transferId;
  if (here == id) return hint;
  // Steps doubling away from the hint until they pass the id, then a
  // binary search between the last two.
  std::int32_t near = hint;
  std::int64_t step = 1;
  if (here < id) {
    while (near + step <= last && table.records[near + step].transferId < id) {
      near = static_cast<std::int32_t>(near + step);
      step *= 2;
    }
    return findById(id, near + 1, static_cast<std::int32_t>(std::min<std::int64_t>(near + step, last)));
  }
  while (near - step >= 1 && table.records[near - step].transferId > id) {
    near = static_cast<std::int32_t>(near - step);
    step *= 2;
  }
  return findById(id, static_cast<std::int32_t>(std::max<std::int64_t>(near - step, 1)), near - 1);
}

std::int32_t countList(const TransferListNode* head) {
  TraceScope t("ldv120");
  std::int32_t count = 0;
  for (; head != nullptr; head = head->next) ++count;
  return count;
}

TransferListNode* loadTransferList(std::vector<TransferListNode*> elements) {
  TraceScope t("ldv050");
  elements.erase(std::remove(elements.begin(), elements.end(), nullptr), elements.end());
  // Ascending by id; equal ids keep the order in which they were handed over.
  // The reader hands them over in file order, and positions count from the
  // end of the file: strictly descending ids are only turned round.
  const auto notDescending = [](const TransferListNode* a, const TransferListNode* b) { return a->id <= b->id; };
  if (std::adjacent_find(elements.begin(), elements.end(), notDescending) == elements.end()) {
    std::reverse(elements.begin(), elements.end());
  } else {
    std::stable_sort(elements.begin(), elements.end(),
                     [](const TransferListNode* a, const TransferListNode* b) { return a->id < b->id; });
  }
  TransferListNode* head = nullptr;
  for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
    (*it)->next = head;
    head = *it;
  }
  return head;
}

int loadTransferElements(const TransferListNode* list) {
  TraceScope t("ldv140");
  ElementTable& table = elementTable();
  const std::int32_t n = countList(list);
  // Fresh slots: a table used before would otherwise lend its links, blocks
  // and cached walk answers to the new elements.
  if (allocateTable(n, n / 8 + 512) != 0) return -1;
  table.lastIndex = 0;
  for (const TransferListNode* node = list; node != nullptr; node = node->next) {
    const std::int32_t i = ++table.lastIndex;
    progressLineTick();
    ElementRecord& e = table.records[i];
    e.state = ElementState::kWaiting;
    e.form = 0;
    e.type = node->type;
    e.transferId = node->id;
    if (node->attrs) e.sideRecord().transferAttrs = std::make_unique<TransferAttributes>(*node->attrs);
  }
  return 0;
}

int freeTransferList(TransferListNode* list) {
  TraceScope t("ldv150");
  while (list != nullptr) {
    TransferListNode* next = list->next;
    delete list;
    list = next;
  }
  return 0;
}

int linkTransferElements(
    const std::function<int(std::int32_t index, std::vector<std::int32_t>& ids)>& membersOf) {
  TraceScope t("ldv965");
  ElementTable& table = elementTable();
  std::vector<std::int32_t> ids;
  // Members mostly stand close to each other in the file.
  std::int32_t near = 0;
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) {
    if (!linksTransferMembers(table.records[i].type)) continue;
    ids.clear();
    if (membersOf(i, ids) != 0) return -1;
    for (std::int32_t id : ids) {
      std::int32_t found = findByIdNear(id, near);
      if (found < 0) continue;
      near = found;
      // Every slot that carries the id is a member.
      while (found > 1 && table.records[found - 1].transferId == id) --found;
      for (; found <= table.lastIndex && table.records[found].transferId == id; ++found) {
        if (linkSon(i, found, 'f') != 0 || linkSon(i, found, 'v') != 0) return -1;
      }
    }
  }
  // One pass: groups and contours without members fail, and the readers
  // leave both cursors at the head of the sons.
  for (std::int32_t i = 1; i <= table.lastIndex; ++i) {
    ElementRecord& e = table.records[i];
    e.sonCursor = e.sons;
    e.sonCursor2 = e.sons;
    if ((e.type == IgesType::kAssociativityInstance || e.type == IgesType::kCompositeCurve) &&
        e.sons == nullptr) {
      e.state = ElementState::kError;
      if (runSettings().traceLevel > 4) {
        std::printf("-> ldv965 : Komplexes Element (Gruppe) hat keine Soehne !!");
        std::printf("            ELEMENT : %ld, INDEX : %ld\n", static_cast<long>(e.type), static_cast<long>(i));
      }
    }
  }
  return 0;
}
