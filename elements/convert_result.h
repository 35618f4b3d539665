// The results of a converter, shared by the input conversion (elements to
// KPL script) and the output conversion (transfer elements to IGES or DXF).
// Each becomes the state of the element converted.
#pragma once

namespace ConvertResult {
constexpr int kDone = 0;          // written ('d')
constexpr int kError = -1;        // an error ('e'); so is any result not named here
constexpr int kLater = -10;       // taken again later (the state stays)
constexpr int kRegistered = -77;  // a drawing or view registered for the drawing pass ('r')
constexpr int kTakenOver = -88;   // written as something else, or by a father ('c')
constexpr int kIgnored = -99;     // not converted ('i')
}  // namespace ConvertResult
