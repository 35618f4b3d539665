#include "dwg/dwg_texts.h"

#include <iterator>

#include "support/config.h"
#include "support/ide_msg.h"
#include "support/run_state.h"
#include "support/trace.h"

namespace {

// The built-in texts, English.  The keyed message files hold one line per
// key in the same order.
constexpr DwgText kTexts[] = {
    {"_HeaderMsgNote", "Note:~"},
    {"_HeaderMsgWarn", "Warning:~"},
    {"_HeaderMsgApp", "Error:~"},
    {"_HeaderMsgProg", "Program Error:~"},
    {"_HeaderMsgFatal", "Fatal Error:~"},
    {"ideMsg_01", "mode missing for msg"},
    {"ideMsg_02", "invalid argument for msg:~"},
    {"DwgOutPara::ReadPara_1", "Unknown keyword~"},
    {"DwgOutPara::ReadPara_2", ". line ignored"},
    {"DwgOutPara::ReadPara_3", "not enough tokens '"},
    {"DwgOutPara::ReadPara_4", "' for key~"},
    {"DwgOutPara::ReadPara_5", ". I need~"},
    {"DwgOutPara::ReadPara_6", ". line ignored."},
    {"DwgOutPara::ReadPara_7", "too many tokens ("},
    {"DwgOutPara::ReadPara_8", ". unnecessary ones ignored"},
    {"DwgOutPara::ReadPara_9", "Unable to open~"},
    {"DwgOutPara::ReadPara_10", ". Using program defaults"},
    {"DwgOutPara::ReadPara_11", "too many entries for key~"},
    {"DwgGraphAttr::handle_colAssign_1", "Can not convert 1st Argument~"},
    {"DwgGraphAttr::handle_colAssign_2", "1st Argument not in Application colorrange 0 -~"},
    {"DwgGraphAttr::handle_colAssign_3", "Can not convert 2nd Argument~"},
    {"DwgGraphAttr::handle_colAssign_4", "2nd Argument not in AC colorrange 1-255:~"},
    {"DwgGraphAttr::handle_colAssign_5", "keyword~"},
    {"DwgGraphAttr::handle_colDefault_1", "Can not convert Argument~"},
    {"DwgGraphAttr::handle_colDefault_2", " to an integer value for keyword~"},
    {"DwgGraphAttr::handle_colDefault_3", "Argument not in AC colorrange 0-255:~"},
    {"DwgGraphAttr::handle_blockColor_1", "Can not convert 1st Argument~"},
    {"DwgGraphAttr::handle_blockColor_2", "1st Argument not in Application colorrange 0 -~"},
    {"DwgGraphAttr::handle_layerAssign_1", "Telvura Layer~"},
    {"DwgGraphAttr::handle_layerAssign_2", " already assigned. Using last assignment for dwgout."},
    {"DwgGraphAttr::handle_layerAssign_3", "AC Layer~"},
    {"DwgGraphAttr::handle_layerAssign_4", " already assigned. Using last assignment for dwgin."},
    {"DwgGraphAttr::handle_layerDefine_1", "Can not convert 2nd Argument~"},
    {"DwgGraphAttr::handle_layerDefine_2", "Can not convert 3rd Argument~"},
    {"DwgGraphAttr::handle_layerDefine_3", "3rd Argument not in AC colorrange 1-255:~"},
    {"DwgGraphAttr::handle_layerDefine_4", "Autocad Layer~"},
    {"DwgGraphAttr::handle_layerDefine_5", "keyword~"},
    {"DwgGraphAttr::handle_layerDefine_6", " already defined."},
    {"DwgGraphAttr::handle_layerDefine_7", "Overwriting previous definition."},
    {"DwgGraphAttr::handle_lineStyleAssign_1", "Can not convert 1st Argument~"},
    {"DwgGraphAttr::handle_lineStyleAssign_2", "2nd Argument length > 32"},
    {"DwgGraphAttr::handle_lineStyleAssign_3", "Ac Linestyle~"},
    {"DwgGraphAttr::handle_lineStyleAssign_4", " already assigned to TV Linestyle #~"},
    {"DwgGraphAttr::handle_lineStyleAssign_5", "keyword~"},
    {"DwgGraphAttr::handle_lineStyleAssign_6", "Invalid dash pattern (count, lengths):~"},
    {"DwgGraphAttr::handle_lineStyleLayer_1", "Give 2 or 4 arguments for~"},
    {"DwgGraphAttr::handle_lineStyleLayer_2", "Lower thickness not within limits~"},
    {"DwgGraphAttr::handle_lineStyleLayer_3", "Upper thickness not within limits~"},
    {"DwgGraphAttr::handle_lineStyleLayer_4", " and~"},
    {"DwgGraphAttr::handle_lineStyleLayer_5", "keyword~"},
    {"DwgGraphAttr::handle_lineStyleLayer_6", " for keyword~"},
    {"DwgGraphAttr::handle_lineStyleLayer_7", "Lower thickness ("},
    {"DwgGraphAttr::handle_lineStyleLayer_8", ") is greater than upper thickness("},
    {"DwgGraphAttr::handle_lineStyleLayer_9", "). Using inverted values"},
    {"DwgGraphAttr::handle_lineStyleLayer_10", "2nd Argument length > 32"},
    {"DwgGraphAttr::handle_lineStyleLayer_11", "1st Argument is no line style number or kind:~"},
    {"DwgGraphAttr::handle_graphAttr_1", "Invalid Argument~"},
    {"DwgGraphAttr::handle_graphAttr_2", " for key~"},
    {"DwgGraphAttr::handle_graphAttr_5", "keyword~"},
    {"DwgGraphAttr::correctAcLayerName_1", "Name too long, truncated to:~"},
    {"DwgGraphAttr::SetLayer_1", "Empty Layername in intermediate file. Using 'EMPTY'"},
    {"DwgBase::allocAdPointers", "Could not allocate AdPointers!"},
    {"DwgOut::saveFile_1", "Writing file~"},
    {"DwgOut::saveFile_2", "Writing file finished"},
    {"DwgIn::init", "Installation pathname missing. Can not continue!"},
    {"DwgIn::ReadFile_1", "Cannot load AC file~"},
    {"DwgIn::ReadFile_2", "No AC elements to convert in file~"},
};

}  // namespace

const DwgText* dwgTexts(std::size_t& count) {
  count = std::size(kTexts);
  return kTexts;
}

const char* dwgDefaultText(const std::string& key) {
  for (const DwgText& text : kTexts)
    if (key == text.key) return text.defaultText;
  return "";
}

void dwgPut(const char* key) { ideMsgPutKey(key, dwgDefaultText(key)); }

std::string dwgMessageFileName(const std::string& messageDir, const std::string& language) {
  std::string dir = messageDir;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir + (language == "deutsch" ? "dwg_ge.msg" : "dwg_en.msg");
}

int dwgLoadMessages() {
  TraceScope t("dwgLoadMessages");
  ideMsgSetThreshold(ideMsgThresholdForLevel(runSettings().messageLevel));
  return ideMsgLoad(dwgMessageFileName(runPaths().messageDir, runState().language));
}
