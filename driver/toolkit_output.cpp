#include "driver/toolkit_output.h"

#include <cmath>
#include <cstdio>
#include <unordered_map>
#include <vector>

#include "dwg/dwg_out.h"
#include "dwg/graph_attr.h"
#include "dwg/out_para.h"
#include "dwg/start_data.h"
#include "dwg/toolkit_steps.h"
#include "support/config.h"
#include "support/run_state.h"
#include "support/trace.h"
#include "transfer/transfer_reader.h"

namespace {

// The layer names of the loaded transfer file: layer number k stands for
// the (N - k)-th value of its layer value list, and is named by that value
// as the CAD system shows it.
std::unordered_map<std::int32_t, std::string> layerNamesOfTransferFile() {
  const LayerValueList& list = transferReader().layerValueList;
  std::unordered_map<std::int32_t, std::string> names;
  const std::vector<double>& values = list.values();
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(values[i])) continue;
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", values[i]);
    names.emplace(list.capacity() - static_cast<std::int32_t>(i), text);
  }
  return names;
}

}  // namespace

int startToolkitOutput() {
  TraceScope t("stt070");
  // A parameter file that cannot be read leaves the defaults; it has said
  // so.
  (void)dwgReadParameters(DwgDirection::kOutput);
  const DwgOut::SaveType saveType = runState().dwgOutAsDxf == 0 ? DwgOut::kSaveDwg : DwgOut::kSaveDxf;
  return dwgOut().startUp(DwgOut::releaseOfVersion(runState().dwgVersion), saveType, dwgStartData());
}

namespace {
DwgTargetSteps& stepsOfRun() {
  static DwgTargetSteps steps(dwgOut(), layerNamesOfTransferFile);
  return steps;
}

const RunStateRegistrar kRunStateRegistered("toolkit output steps", [] { stepsOfRun().reset(); });
}  // namespace

TargetSteps& toolkitTargetSteps() { return stepsOfRun(); }

int saveToolkitOutput(const std::string& path) {
  TraceScope t("stt071");
  return dwgOut().saveFile(path);
}
