// Fuzzes the parameter file of the DWG directions: the input is read as
// "dwg_para.iga" in the direction its first byte chooses, then the rules it
// set choose the attributes and layers of a few entities of every kind in
// both graphic attribute modes, and the input lookups run.  Messages are
// discarded.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dwg/graph_attr.h"
#include "dwg/out_para.h"
#include "support/ide_msg.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  ideMsgReset();
  ideMsgSetThreshold(IdeSeverity::kContinue);  // above every severity
  const int direction = (data[0] & 1) != 0 ? DwgDirection::kInput : DwgDirection::kOutput;
  resetDwgGraphAttr(direction);
  const std::string contents(reinterpret_cast<const char*>(data) + 1, size - 1);
  (void)DwgOutPara::ReadParaText(contents);

  DwgGraphAttr& g = dwgGraphAttr();
  DwgLayerList layers;
  const char* const names[] = {"", "Schnitt a/b", "LAYER_WITH_A_NAME_LONGER_THAN_31"};
  for (int mode : {DwgAttrMode::kUseTelvuraSettings, DwgAttrMode::kUseLineStyleLayer}) {
    // The mode is set as the parameter file would.
    const DwgGraphAttr::Arguments argument = {mode == 0 ? "useTelvuraSettings"
                                                        : "useLineStyleLayer"};
    g.setDirection(DwgDirection::kOutput);
    (void)g.handle_graphAttr("dwgout_graphattrmode", argument);
    // The kind counts only for the line style layers.
    const int lastKind = mode == 0 ? DwgKind::kCurve : DwgKind::kFilledHiddenHatch;
    for (int kind = DwgKind::kCurve; kind <= lastKind; ++kind) {
      for (const char* name : names) {
        DwgElementAttributes element;
        element.colour = static_cast<int>(size % 300) - 20;
        element.lineStyle = static_cast<int>(data[0] % 40);
        element.lineWidth = static_cast<int>(size % 400);
        element.layerName = name;
        DwgEntityAttributes entity;
        g.applyAttributes(element, entity, layers, kind);
      }
    }
  }
  for (int colour = -1; colour <= 257; colour += 37) {
    (void)g.acColourOf(colour);
    (void)g.applicationColourOf(colour);
  }
  (void)g.telvuraLayerOf("OUTLINE");
  (void)g.lineStyleOf("DASHED");
  (void)g.linetypeOf(data[0]);
  ideMsgReset();
  return 0;
}
