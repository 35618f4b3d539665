#include "dwg/out_para.h"

#include <sys/stat.h>

#include <cstdio>
#include <functional>

#include "dwg/dwg_texts.h"
#include "dwg/graph_attr.h"
#include "support/assign_tables.h"
#include "support/config.h"
#include "support/ide_msg.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

using Handler = int (DwgGraphAttr::*)(const std::string&, const DwgGraphAttr::Arguments&);

// The keywords of the parameter file.  A row whose least and most argument
// counts are equal fixes the count; the handler of idemsgcmd is the keyed
// message stream's command.
struct Keyword {
  const char* name;
  std::size_t least;
  std::size_t most;
  Handler handler;
};
constexpr std::size_t kAny = DwgOutPara::kParaArguments;
constexpr Keyword kKeywords[] = {
    {"dwg_colorassign", 2, 2, &DwgGraphAttr::handle_colAssign},
    {"dwgin_colorassign", 2, 2, &DwgGraphAttr::handle_colAssignDwgIn},
    {"dwgout_colorassign", 2, 2, &DwgGraphAttr::handle_colAssignDwgOut},
    {"dwg_colordefault", 1, 1, &DwgGraphAttr::handle_colDefault},
    {"dwgin_blockcolor", 1, 1, &DwgGraphAttr::handle_blockColor},
    {"dwg_layerassign", 2, 2, &DwgGraphAttr::handle_layerAssign},
    {"dwgout_layerdefault", 3, 3, &DwgGraphAttr::handle_layerDefine},
    {"dwgout_layerdefine", 3, 3, &DwgGraphAttr::handle_layerDefine},
    {"dwgout_linestylelayer", 0, kAny, &DwgGraphAttr::handle_lineStyleLayer},
    {"dwg_linestyleassign", 2, 2, &DwgGraphAttr::handle_lineStyleAssign},
    {"dwgin_linestyleassign", 2, 2, &DwgGraphAttr::handle_lineStyleAssign},
    {"dwgout_linestyleassign", 2, kAny, &DwgGraphAttr::handle_lineStyleAssign},
    {"dwgin_graphattrmode", 1, 1, &DwgGraphAttr::handle_graphAttr},
    {"dwgout_graphattrmode", 1, 1, &DwgGraphAttr::handle_graphAttr},
    {"idemsgcmd", 0, kAny, nullptr},
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isQuote(char c) { return c == '"' || c == '\''; }

std::string lowered(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

const Keyword* keywordOf(const std::string& word) {
  const std::string name = lowered(word);
  for (const Keyword& keyword : kKeywords)
    if (name == keyword.name) return &keyword;
  return nullptr;
}

void reportCount(const char* firstKey, std::size_t count, const std::string& keyword,
                 std::size_t needed, const char* lastKey) {
  dwgPut(firstKey);
  ideMsgPut(std::to_string(count));
  dwgPut("DwgOutPara::ReadPara_4");
  ideMsgPut(keyword);
  dwgPut("DwgOutPara::ReadPara_5");
  ideMsgPut(std::to_string(needed));
  dwgPut(lastKey);
  ideMsgEmit(IdeSeverity::kError);
}

// One line of the file: the handler's result, or 0 for a line that is
// skipped or reported; `ran` tells whether a handler ran.
int handleLine(const std::string& text, bool& ran) {
  ran = false;
  std::size_t start = 0;
  while (start < text.size() && isBlank(text[start])) ++start;
  if (start == text.size() || text.compare(start, 2, "//") == 0 || text[start] == '#') return 0;
  DwgOutPara::Line line = DwgOutPara::SplitLine(text.substr(start));
  const Keyword* keyword = keywordOf(line.keyword);
  if (keyword == nullptr) {
    dwgPut("DwgOutPara::ReadPara_1");
    ideMsgPut(line.keyword);
    dwgPut("DwgOutPara::ReadPara_2");
    ideMsgEmit(IdeSeverity::kError);
    return 0;
  }
  if (line.count < keyword->least) {
    reportCount("DwgOutPara::ReadPara_3", line.count, line.keyword, keyword->least,
                "DwgOutPara::ReadPara_6");
    return 0;
  }
  if (line.count > keyword->most) {
    reportCount("DwgOutPara::ReadPara_7", line.count, line.keyword, keyword->most,
                "DwgOutPara::ReadPara_8");
    line.arguments.resize(keyword->most);
  }
  ran = true;
  if (keyword->handler == nullptr) return ideMsgCommand(line.arguments);
  return (dwgGraphAttr().*(keyword->handler))(line.keyword, line.arguments);
}

int readLines(const std::function<bool(std::string&)>& nextLine) {
  int result = 0;
  std::string text;
  while (nextLine(text)) {
    bool ran = false;
    const int handled = handleLine(text, ran);
    if (ran) result = handled;
  }
  return result;
}

}  // namespace

DwgOutPara::Line DwgOutPara::SplitLine(const std::string& text) {
  Line line;
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  const std::size_t keywordStart = i;
  while (i < text.size() && !isBlank(text[i])) ++i;
  line.keyword = text.substr(keywordStart, i - keywordStart);
  while (i < text.size()) {
    if (isBlank(text[i])) {
      ++i;
      continue;
    }
    std::size_t begin = i, end = i;
    if (isQuote(text[i])) {
      begin = i + 1;
      end = text.find(text[i], begin);
      if (end == std::string::npos) end = text.size();
      i = end < text.size() ? end + 1 : end;
      if (end == begin) continue;  // "" holds no argument
    } else {
      while (end < text.size() && !isBlank(text[end]) && !isQuote(text[end])) ++end;
      i = end;
    }
    ++line.count;
    if (line.arguments.size() < kParaArguments) line.arguments.push_back(text.substr(begin, end - begin));
  }
  return line;
}

std::string DwgOutPara::ParaPath(const std::string& directory) {
  std::size_t start = 0;
  while (start < directory.size() && (isBlank(directory[start]) || isQuote(directory[start])))
    ++start;
  std::size_t end = start;
  while (end < directory.size() && !isBlank(directory[end]) && !isQuote(directory[end])) ++end;
  std::string dir = directory.substr(start, end - start);
  if (dir.empty()) {
    const std::string& install = runState().installDir;
    dir = (install.empty() ? std::string("./") : install) + "ririzidedareru/";
  }
  if (dir.back() != '/') dir += '/';
  return dir + kFileName;
}

int DwgOutPara::ReadPara(const std::string& directory) {
  TraceScope t("DwgOutPara::ReadPara");
  const std::string path = ParaPath(directory);
  // Only a plain file is read: a device or a pipe would never end.
  struct stat status {};
  std::FILE* file = nullptr;
  if (::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
    file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    dwgPut("DwgOutPara::ReadPara_9");
    ideMsgPut(path);
    dwgPut("DwgOutPara::ReadPara_10");
    ideMsgEmit(IdeSeverity::kError);
    return -1;
  }
  const int result = readLines(
      [file](std::string& line) { return readTableLine(file, kParaLineLength, line); });
  std::fclose(file);
  return result;
}

int DwgOutPara::ReadParaText(const std::string& contents) {
  TraceScope t("DwgOutPara::ReadPara");
  std::size_t start = 0;
  return readLines([&contents, &start](std::string& line) {
    if (start >= contents.size()) return false;
    std::size_t end = contents.find('\n', start);
    if (end == std::string::npos) end = contents.size();
    line.assign(contents, start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > kParaLineLength) line.resize(kParaLineLength);
    start = end + 1;
    return true;
  });
}

int dwgReadParameters(int direction) {
  TraceScope t("dwgReadParameters");
  resetDwgGraphAttr(direction);
  dwgLoadMessages();
  return DwgOutPara::ReadPara(runPaths().parameterDir);
}
