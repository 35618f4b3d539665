// Runs every element fetcher on one element (and the leader and text
// fetchers on the parts of a symbol), whatever the element's kind: the
// fetchers of other kinds must refuse it cleanly.  Shared by the fuzz
// targets of the transfer file and of EDX files.
#pragma once

#include <cstdint>

#include "elements/fetch_records.h"
#include "transfer/fetchers.h"

inline void fetchEverything(std::int32_t index, std::int32_t position) {
  TransferPoint point;
  fetchPoint(index, position, point);
  TransferLine line;
  fetchLine(index, position, line);
  TransferCircle circle;
  fetchCircle(index, position, circle);
  TransferEllipse ellipse;
  fetchEllipse(index, position, ellipse);
  TransferSpline spline;
  fetchSpline(index, position, spline);
  TransferPlanePart planePart;
  fetchPlanePart(index, position, planePart);
  TransferText text;
  fetchText(index, position, text);
  TransferDimension dimension;
  fetchDimension(index, position, dimension);
  TransferGroup group;
  fetchGroup(index, position, group);
  fetchUserElement(index, position, group);
  TransferContour contour;
  fetchContour(index, position, contour);
  TransferHatch hatch;
  fetchHatch(index, position, hatch);
  TransferLayer layer;
  fetchLayer(index, position, layer);
  TransferLeader leader;
  fetchLeader(index, position, leader);
  TransferSymbol symbol;
  if (fetchSymbol(index, position, symbol) == 0) {
    for (const TransferSymbolPart& part : symbol.parts) {
      fetchLeader(index, part.position, leader);
      fetchText(index, part.position, text);
    }
  }
}
