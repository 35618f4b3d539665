#include "driver/message_numbers.h"

#include <iterator>

namespace {

constexpr int kMessageNumbers[] = {
#include "message_numbers.inc"
};

}  // namespace

const int* messageNumbersInUse(std::size_t& count) {
  count = std::size(kMessageNumbers);
  return kMessageNumbers;
}
