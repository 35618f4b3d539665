// SPLINE, MTEXT, LEADER and VIEWPORT across releases: the view data that
// files before 2000 keep in a viewport's XDATA, and the forms older
// releases draw these entities (and ELLIPSE) in when they lack the kind.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "drawingdb/model.h"

namespace drawingdb {

// Settles what a reader took from a file into the model's terms: an MTEXT
// direction given as an angle becomes its X axis; the view a viewport of
// a file before 2000 keeps in its "ACAD"/"MVIEW" XDATA goes into its
// fields (the XDATA is taken off).  The names of the layers frozen in such
// a viewport are returned: the caller turns them into handles once the
// layer records have theirs.
std::vector<std::string> settleAfterRead(Entity& e);

// The "ACAD"/"MVIEW" XDATA of a viewport for files before 2000;
// `frozenLayerNames` are the names of its frozen layers.
std::vector<RawTag> viewportXdata(const Viewport& v, const std::vector<std::string>& frozenLayerNames);

// Whether `release` lacks the entity's kind and draws it in an older form.
bool needsOlderForm(const Entity& e, Release release);

// The entities that draw `e` in a release that lacks its kind (see
// annotation_forms.cpp for each kind's form), with the layer, colour and
// linetype of `e` and without handles.  Empty when the release has nothing
// to show for it.
std::vector<Entity> olderForm(const Entity& e, const Database& db, Release release);

// The plain text of an MTEXT value: paragraph breaks become line feeds,
// formatting codes are left out, stacked fractions read "a/b".
std::string mtextPlainText(std::string_view value);

// Points along a spline: the NURBS curve when its control points, knots
// and weights agree, else its fit points, else its control polygon.
std::vector<Point3> splinePoints(const Spline& s);

}  // namespace drawingdb
