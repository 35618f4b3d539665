// The generated drawing the DXF benchmarks read: n entities in model space,
// row by row on a grid of 1000 columns (lines, circles, arcs, texts,
// lightweight polylines with a bulge, points if asked, and inserts of ten
// small blocks of lines), spread over the layers.
#pragma once

#include <string>
#include <utility>

#include "drawingdb/model.h"

struct BenchDrawingShape {
  int layers = 50;
  int linesPerBlock = 4;
  // The x extent of each line of a block (0: the lines stand upright).
  double blockLineRun = 0.5;
  // Points among the kinds (they come before the inserts).
  bool points = true;
  // What a text says before its entity number.
  std::string textPrefix = "T";
};

inline drawingdb::Database makeBenchDrawing(long n, const BenchDrawingShape& shape) {
  using namespace drawingdb;
  Database db = Database::create(Release::R2000);
  for (int l = 0; l < shape.layers; ++l) db.addRecord(db.layers, "LAYER_" + std::to_string(l)).data.colour = 1 + l % 7;
  for (int b = 0; b < 10; ++b) {
    BlockRecord& block = db.addBlock("BLOCK_" + std::to_string(b));
    const std::size_t bi = db.blockIndex(block);
    for (int k = 0; k < shape.linesPerBlock; ++k) {
      Entity e = makeEntity(EntityKind::Line);
      get<Line>(e.data) = Line{{double(k), 0, 0}, {double(k) + shape.blockLineRun, 1, 0}};
      db.addEntity(db.blocks[bi], std::move(e));
    }
  }
  const std::size_t model = db.blockIndex(db.modelSpace());
  const long kinds = shape.points ? 7 : 6;
  for (long i = 0; i < n; ++i) {
    const double x = double(i % 1000) * 1.25, y = double(i / 1000) * 0.75;
    const long kind = i % kinds;
    Entity e;
    if (kind == 0) {
      e = makeEntity(EntityKind::Line);
      get<Line>(e.data) = Line{{x, y, 0}, {x + 1.0 / 3.0, y + 0.2, 0}};
    } else if (kind == 1) {
      e = makeEntity(EntityKind::Circle);
      get<Circle>(e.data).center = {x, y, 0};
      get<Circle>(e.data).radius = 0.3;
    } else if (kind == 2) {
      e = makeEntity(EntityKind::Arc);
      Arc& a = get<Arc>(e.data);
      a.center = {x, y, 0};
      a.radius = 0.4;
      a.startAngle = 15;
      a.endAngle = 200;
    } else if (kind == 3) {
      e = makeEntity(EntityKind::Text);
      Text& t = get<Text>(e.data);
      t.insertion = {x, y, 0};
      t.height = 0.25;
      t.value = shape.textPrefix + std::to_string(i);
    } else if (kind == 4) {
      e = makeEntity(EntityKind::LwPolyline);
      auto& v = get<LwPolyline>(e.data).vertices;
      for (int k = 0; k < 5; ++k) v.push_back({{x + k * 0.1, y + (k % 2) * 0.1, 0}, 0, 0, k == 2 ? 0.5 : 0});
    } else if (kind == 5 && shape.points) {
      e = makeEntity(EntityKind::Point);
      get<PointEntity>(e.data).location = {x + 0.05, y + 0.05, 0};
    } else {
      e = makeEntity(EntityKind::Insert);
      Insert& ins = get<Insert>(e.data);
      ins.block = "BLOCK_" + std::to_string(i % 10);
      ins.insertion = {x, y, 0};
      ins.rotation = double(i % 360);
    }
    e.common.layer = "LAYER_" + std::to_string(i % shape.layers);
    db.addEntity(db.blocks[model], std::move(e));
  }
  return db;
}
