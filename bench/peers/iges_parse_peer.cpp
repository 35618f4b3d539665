// The peer of bench_iges_read: reads an IGES file with the IGES reader of
// another toolkit and stops after parsing it (no shapes are made).  Exit
// status 0 when the file was read.
#include <IFSelect_ReturnStatus.hxx>
#include <IGESControl_Reader.hxx>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  IGESControl_Reader reader;
  return reader.ReadFile(argv[1]) == IFSelect_RetDone ? 0 : 1;
}
