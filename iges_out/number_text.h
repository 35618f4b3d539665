// The texts of reals in the writers' fixed forms: "%.*f" (DXF) and "%.*E"
// (IGES), byte for byte as std::to_chars and printf write them (the exact
// value of the double, rounded half to even).  The usual coordinates of a
// drawing take a short way of integer arithmetic; every other value the
// general conversion.
#pragma once

// Each writes the text at `out` (room for 400 characters) and returns its
// end.  A value that is not finite is written as the general conversion
// writes it.
//
// `decimals` digits after the point, 0 to 17.
char* fixedText(char* out, double value, int decimals);
// One digit, the point, `decimals` digits (1 to 17), 'E', the exponent's
// sign and at least two exponent digits.
char* scientificText(char* out, double value, int decimals);
