// -dxf12out of the real program (the own DXF writer, no toolkit) on the
// generated CAD transfer files of bench_igesout_path.  Goal: 100 MB of DXF
// per processor second or more, time growing linearly.
//
// Usage: bench_dxf12out_path [larger line count, default 1000000] [program]
#include "bench/output_rate.h"

int main(int argc, char** argv) { return bench::outputRateMain(argc, argv, "-dxf12out", 100.0); }
