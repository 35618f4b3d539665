// The numbers of the messages the program uses: every message file must hold
// a text for each of them.  The list is the installation's list of message
// numbers (ririzidedareru/msc/numbers.txt), taken over when the program is
// built.
#pragma once

#include <cstddef>

const int* messageNumbersInUse(std::size_t& count);
