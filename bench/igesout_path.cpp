// -igesout of the real program on generated CAD transfer files of N and 10N
// lines (default N 100000), listed with ascending identifiers (the order
// the CAD system writes, and the one that makes sorted insertions and list
// scans go quadratic); every fiftieth line closes a group of the ten before
// it, so member walks are part of it.  Goal: 100 MB of IGES per processor
// second or more, time growing linearly.
//
// Usage: bench_igesout_path [larger line count, default 1000000] [program]
#include "bench/output_rate.h"

int main(int argc, char** argv) { return bench::outputRateMain(argc, argv, "-igesout", 100.0); }
