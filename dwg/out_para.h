// The parameter file "dwg_para.iga" of the DWG directions.  It changes the
// rules of the run's graphic attribute mapping (graph_attr.h): one keyword
// per line with its arguments, for example
//
//   dwg_colorassign        3  1
//   dwg_layerassign        "Schnitt a/b"  SECTION
//   DWGOUT_LINESTYLEASSIGN 2  DASHED  "Dashed __ __"  2  "5.0,-2.5"
//   dwgout_graphattrmode   useLineStyleLayer
//
// Lines beginning with "//" or "#" and empty lines are skipped.  The file
// is untrusted: lines are read up to kParaLineLength characters, at most
// kParaArguments arguments are kept, and every bad line is reported with a
// keyed message and has no effect.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class DwgOutPara {
 public:
  static constexpr std::size_t kParaLineLength = 512;
  static constexpr std::size_t kParaArguments = 25;
  static constexpr char kFileName[] = "dwg_para.iga";

  // Reads <directory>/dwg_para.iga into dwgGraphAttr().  The directory is
  // the first word of the setting given (runPaths().parameterDir), or the
  // program's data directory when it is empty.  Returns the result of the
  // last keyword handler (0 when none ran), -1 when the file cannot be read.
  static int ReadPara(const std::string& directory);
  // The same for the contents of a parameter file.
  static int ReadParaText(const std::string& contents);

  // The file that ReadPara reads for a directory setting.
  static std::string ParaPath(const std::string& directory);

  // The words of one line: the keyword (split at blanks and tabs), then the
  // arguments (split at blanks, tabs and quotes; a quoted part is one
  // argument).  `count` is the number of arguments on the line, of which
  // the first kParaArguments are kept.
  struct Line {
    std::string keyword;
    std::vector<std::string> arguments;
    std::size_t count = 0;
  };
  static Line SplitLine(const std::string& line);
};

// Start of a toolkit direction: a fresh attribute mapping with the
// direction (DwgDirection), the keyed message file of the run's language,
// then the parameter file of the run.  Returns ReadPara's result.
int dwgReadParameters(int direction);
