// What the tests of DwgOut share: the installed start-up data, an element's
// attributes, and a builder on fresh graphic attributes and messages.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "dwg/dwg_out.h"
#include "dwg/graph_attr.h"
#include "dwg/start_data.h"
#include "support/ide_msg.h"

inline DwgStartData installedStartData() {
  DwgStartData data;
  DwgStartProblem problem;
  EXPECT_EQ(DwgStart::load(DwgStart::pathIn(TROVAK_SOURCE_DIR "/"), data, problem), 0);
  return data;
}

inline DwgElementAttributes element(int colour, const std::string& layer, int lineStyle = 1) {
  DwgElementAttributes e;
  e.colour = colour;
  e.layerName = layer;
  e.lineStyle = lineStyle;
  return e;
}

class DwgOutFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    resetDwgGraphAttr(DwgDirection::kOutput);
    ideMsgReset();
  }
  void TearDown() override {
    ideMsgReset();
    resetDwgGraphAttr(DwgDirection::kOutput);
  }
  // The entity at a place of model space, the last one, and their count.
  drawingdb::Entity& entity(std::size_t modelIndex) {
    drawingdb::Database& db = out.database();
    return db.entities[db.modelSpace().entities.at(modelIndex)];
  }
  drawingdb::Entity& last() { return entity(modelCount() - 1); }
  std::size_t modelCount() { return out.database().modelSpace().entities.size(); }
  DwgOut out;
};
