// A drawing with one or more entities of every modelled kind, on layers
// with colours and linetypes, a block and its inserts: the shared input of
// the writer and reader tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "drawingdb/model.h"
#include "drawingdb/releases.h"

namespace sample {

using namespace drawingdb;

// A form of a written DXF file: its release, ASCII or binary.
struct Form {
  Release release;
  bool binary;
};

// Every form the writer makes: each release it writes in ASCII, and in
// binary from R10 on.
inline std::vector<Form> everyWrittenForm() {
  std::vector<Form> forms;
  for (const ReleaseInfo& r : releases())
    if (r.can & kWriteDxf) {
      forms.push_back({r.release, false});
      if (r.release >= Release::R10) forms.push_back({r.release, true});
    }
  return forms;
}

// The forms the peer reader judges as written: R12 and later.
inline std::vector<Form> peerJudgedForms() {
  std::vector<Form> forms;
  for (const Form& f : everyWrittenForm())
    if (f.release >= Release::R12) forms.push_back(f);
  return forms;
}

inline std::string formName(const Form& f) {
  return std::string(releaseInfo(f.release).version) + (f.binary ? "Binary" : "Ascii");
}

inline Entity entity(EntityKind kind, std::string layer = "0", int colour = 256, std::string linetype = "BYLAYER") {
  Entity e = makeEntity(kind);
  e.common.layer = std::move(layer);
  e.common.colour = colour;
  e.common.linetype = std::move(linetype);
  return e;
}

// What a reader must find of each entity of model space, in order: its
// DXF kind, layer, colour, linetype and geometry numbers (as the reader
// script of the tests lists them).
struct Expected {
  std::string kind, layer;
  int colour;
  std::string linetype;
  std::vector<double> numbers;
};

inline Database drawing(Release release, std::vector<Expected>* expected = nullptr) {
  Database db = Database::create(release);
  const bool modern = release >= Release::R13;
  Record<Linetype>& dashed = db.addRecord(db.linetypes, "DASHED");
  dashed.data.description = "Dashed __ __";
  dashed.data.patternLength = 0.75;
  dashed.data.dashes = {{0.5, 0}, {-0.25, 0}};
  Record<Layer>& walls = db.addRecord(db.layers, "WALLS");
  walls.data.colour = 1;
  walls.data.linetype = "DASHED";
  // Names with blanks exist from R13 on.
  const std::string textLayer = modern ? "Text layer" : "TEXT_LAYER";
  db.addRecord(db.layers, textLayer).data.colour = 5;
  Record<TextStyle>& iso = db.addRecord(db.styles, "ISO");
  iso.data.font = "isocp.shx";
  iso.data.widthFactor = 0.8;

  BlockRecord& block = db.addBlock("B1");
  block.base = {1, 1, 0};
  {
    Entity e = entity(EntityKind::Line);
    get<Line>(e.data) = Line{{0, 0, 0}, {2, 0, 0}};
    db.addEntity(db.blocks.back(), std::move(e));
    Entity c = entity(EntityKind::Circle, "WALLS");
    get<Circle>(c.data).center = {1, 1, 0};
    get<Circle>(c.data).radius = 0.5;
    db.addEntity(*db.findBlock("B1"), std::move(c));
    Entity d = entity(EntityKind::AttDef);
    AttDef& ad = get<AttDef>(d.data);
    ad.insertion = {0, -1, 0};
    ad.height = 0.5;
    ad.tag = "PART";
    ad.prompt = "Part number";
    ad.defaultValue = "P-0";
    db.addEntity(*db.findBlock("B1"), std::move(d));
  }

  std::vector<Expected> exp;
  auto add = [&](Entity e, Expected x) {
    db.addEntity(db.modelSpace(), std::move(e));
    exp.push_back(std::move(x));
  };
  {
    Entity e = entity(EntityKind::Line, "WALLS", 3);
    get<Line>(e.data) = Line{{1.25, 2.5, 0}, {10.0 / 3.0, -4.125, 0}};
    add(std::move(e), {"LINE", "WALLS", 3, "BYLAYER", {1.25, 2.5, 0, 10.0 / 3.0, -4.125, 0}});
  }
  {
    Entity e = entity(EntityKind::Line, "0", 256, "DASHED");
    get<Line>(e.data) = Line{{0, 0, 0}, {1e6 + 0.123456789, 1e-7, 0}};
    add(std::move(e), {"LINE", "0", 256, "DASHED", {0, 0, 0, 1e6 + 0.123456789, 1e-7, 0}});
  }
  {
    Entity e = entity(EntityKind::Circle, "WALLS", 0);
    get<Circle>(e.data).center = {5, 5, 0};
    get<Circle>(e.data).radius = 2.75;
    add(std::move(e), {"CIRCLE", "WALLS", 0, "BYLAYER", {5, 5, 0, 2.75}});
  }
  {
    Entity e = entity(EntityKind::Arc, "0", 2);
    Arc& a = get<Arc>(e.data);
    a.center = {-1, 2, 0};
    a.radius = 3;
    a.startAngle = 30;
    a.endAngle = 270.5;
    add(std::move(e), {"ARC", "0", 2, "BYLAYER", {-1, 2, 0, 3, 30, 270.5}});
  }
  {
    Entity e = entity(EntityKind::Point);
    get<PointEntity>(e.data).location = {7, 8, 0};
    add(std::move(e), {"POINT", "0", 256, "BYLAYER", {7, 8, 0}});
  }
  {
    Entity e = entity(EntityKind::Text, textLayer);
    Text& t = get<Text>(e.data);
    t.insertion = {1, 1, 0};
    t.height = 2.5;
    t.value = "Hello drawing";
    t.rotation = 45;
    t.style = "ISO";
    add(std::move(e), {"TEXT", textLayer, 256, "BYLAYER", {1, 1, 0, 2.5, 45}});
  }
  {
    Entity e = entity(EntityKind::Solid, "0", 4);
    Solid& s = get<Solid>(e.data);
    s.corner1 = {0, 0, 0};
    s.corner2 = {1, 0, 0};
    s.corner3 = {0, 1, 0};
    s.corner4 = {1, 1, 0};
    add(std::move(e), {"SOLID", "0", 4, "BYLAYER", {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}});
  }
  {
    Entity e = entity(EntityKind::LwPolyline, "WALLS");
    LwPolyline& p = get<LwPolyline>(e.data);
    p.flags = 1;
    p.vertices = {{{0, 0, 0}, 0, 0, 0}, {{4, 0, 0}, 0, 0, 0.5}, {{4, 3, 0}, 0, 0, 0}};
    // Before R14 the lightweight polyline is written as a 2D polyline.
    add(std::move(e), {release >= Release::R14 ? "LWPOLYLINE" : "POLYLINE", "WALLS", 256, "BYLAYER",
                       {1, 0, 0, 0, 4, 0, 0.5, 4, 3, 0}});
  }
  {
    Entity e = entity(EntityKind::Polyline, "0", 6);
    Polyline& p = get<Polyline>(e.data);
    p.flags = 8;
    for (int i = 0; i < 3; ++i) {
      Vertex v;
      v.location = {double(i), double(i * i), double(-i)};
      v.flags = 32;
      p.vertices.push_back(v);
    }
    add(std::move(e), {"POLYLINE", "0", 6, "BYLAYER", {8, 0, 0, 0, 1, 1, -1, 2, 4, -2}});
  }
  {
    Entity e = entity(EntityKind::Insert, "WALLS", 256);
    Insert& i = get<Insert>(e.data);
    i.block = "B1";
    i.insertion = {20, 10, 0};
    i.xScale = 2;
    i.yScale = 2;
    i.rotation = 90;
    add(std::move(e), {"INSERT", "WALLS", 256, "BYLAYER", {20, 10, 0, 2, 2, 90, 1, 1}});
    Entity a = entity(EntityKind::Attrib, "WALLS");
    Attrib& at = get<Attrib>(a.data);
    at.insertion = {20, 8, 0};
    at.height = 1;
    at.tag = "PART";
    at.value = "P-17";
    db.addAttribute(db.modelSpace().entities.back(), std::move(a));
  }
  {
    Entity e = entity(EntityKind::Insert);
    Insert& i = get<Insert>(e.data);
    i.block = "B1";
    i.insertion = {-5, -5, 0};
    i.columns = 3;
    i.rows = 2;
    i.columnSpacing = 4;
    i.rowSpacing = 5;
    add(std::move(e), {"INSERT", "0", 256, "BYLAYER", {-5, -5, 0, 1, 1, 0, 3, 2}});
  }
  if (modern) {
    Entity e = entity(EntityKind::Ellipse, "0", 1);
    Ellipse& el = get<Ellipse>(e.data);
    el.center = {3, 4, 0};
    el.majorAxis = {2, 0, 0};
    el.ratio = 0.5;
    el.startParameter = 0.25;
    el.endParameter = 3.0;
    add(std::move(e), {"ELLIPSE", "0", 1, "BYLAYER", {3, 4, 0, 2, 0, 0, 0.5, 0.25, 3.0}});
  }
  if (release >= Release::R2_6) {
    Entity e = entity(EntityKind::Face3d);
    Face3d& f = get<Face3d>(e.data);
    f.corner1 = {0, 0, 1};
    f.corner2 = {1, 0, 2};
    f.corner3 = {1, 1, 3};
    f.corner4 = {0, 1, 4};
    add(std::move(e), {"3DFACE", "0", 256, "BYLAYER", {0, 0, 1, 1, 0, 2, 1, 1, 3, 0, 1, 4}});
  }
  if (modern) {
    Entity e = entity(EntityKind::Spline, "WALLS", 5);
    Spline& sp = get<Spline>(e.data);
    sp.flags = 8 | 4;
    sp.degree = 2;
    sp.knots = {0, 0, 0, 0.5, 1, 1, 1};
    sp.controlPoints = {{0, 0, 0}, {1, 2, 0}, {3, 2, 0}, {4, 0, 0}};
    sp.weights = {1, 0.5, 2, 1};
    sp.fitPoints = {{0, 0, 0}, {4, 0, 0}};
    sp.startTangent = {1, 1, 0};
    add(std::move(e), {"SPLINE", "WALLS", 5, "BYLAYER",
                       {2, 12, 0, 0, 0, 0.5, 1, 1, 1, 0, 0, 0, 1, 2, 0, 3, 2, 0, 4, 0, 0, 1, 0.5, 2, 1, 0, 0, 0, 4, 0, 0}});
    // A text longer than one group holds, with two-byte characters.
    std::string text = "First line\\Psecond line ";
    while (text.size() < 600) text += "\xc3\xa4" "bc ";
    Entity m = entity(EntityKind::MText, textLayer, 3);
    MText& mt = get<MText>(m.data);
    mt.insertion = {10, 20, 0};
    mt.height = 1.5;
    mt.referenceWidth = 30;
    mt.attachment = 5;
    mt.value = text;
    mt.style = "ISO";
    mt.xAxis = {0, 1, 0};
    add(std::move(m), {"MTEXT", textLayer, 3, "BYLAYER", {10, 20, 0, 1.5, 30, 5, 0, 1, 0}});
    const Handle note = db.entities[db.modelSpace().entities.back()].common.handle;
    Entity l = entity(EntityKind::Leader, "0", 1);
    Leader& ld = get<Leader>(l.data);
    ld.dimensionStyle = "Standard";
    ld.creation = 0;
    ld.vertices = {{0, 0, 0}, {5, 5, 0}, {9.5, 5, 0}};
    ld.annotation = note;
    ld.textHeight = 1.5;
    add(std::move(l), {"LEADER", "0", 1, "BYLAYER", {0, 0, 0, 5, 5, 0, 9.5, 5, 0, 1, 0}});
    // The text follows its leader.
    db.entities[db.modelSpace().entities[db.modelSpace().entities.size() - 2]].common.extras().reactors.push_back(
        db.entities[db.modelSpace().entities.back()].common.handle);
  }
  if (release >= Release::R12) {
    Entity v = entity(EntityKind::Viewport);
    v.common.paperSpace = true;
    Viewport& vp = get<Viewport>(v.data);
    vp.center = {150, 100, 0};
    vp.width = 120;
    vp.height = 80;
    vp.id = 2;
    vp.viewCenter = {30, 40, 0};
    vp.viewHeight = 64;
    vp.twist = 15;
    vp.flags = 32768 | 32 | 256 | 4096;
    vp.frozenLayers = {db.layers.find("WALLS")->common.handle};
    db.addEntity(db.paperSpace(), std::move(v));
  }
  if (expected) *expected = std::move(exp);
  return db;
}

// ezdxf, the DXF library of the test machine, as a peer reader.
inline bool haveEzdxf() {
  static const int have = std::system("/usr/bin/python3 -c 'import ezdxf' >/dev/null 2>&1") == 0 ? 1 : 0;
  return have == 1;
}

// The peer's script: audits the file and lists the entities of model
// space as "KIND|layer|colour|linetype|numbers".
inline const char* kPeerScript = R"PY(
import sys, ezdxf
doc = ezdxf.readfile(sys.argv[1])
auditor = doc.audit()
print("ERRORS", len(auditor.errors))
for e in auditor.errors:
    print("AUDIT", e.code, e.message)
def p(v): return [float(c) for c in v]
def g(d, key, default):
    try: return d.get(key, default)
    except Exception: return default
for e in doc.modelspace():
    t = e.dxftype(); d = e.dxf
    n = []
    if t == "LINE": n = p(d.start) + p(d.end)
    elif t == "CIRCLE": n = p(d.center) + [d.radius]
    elif t == "ARC": n = p(d.center) + [d.radius, d.start_angle, d.end_angle]
    elif t == "POINT": n = p(d.location)
    elif t == "TEXT": n = p(d.insert) + [d.height, d.rotation]; t += ":" + e.dxf.text.replace("|", "/") + ":" + d.style
    elif t in ("SOLID", "TRACE", "3DFACE"): n = p(d.vtx0) + p(d.vtx1) + p(d.vtx2) + p(d.vtx3)
    elif t == "LWPOLYLINE":
        n = [1.0 if e.closed else 0.0]
        for x, y, s, w, b in e.get_points(): n += [x, y, b]
    elif t == "POLYLINE":
        if e.is_3d_polyline:
            n = [8.0]
            for v in e.vertices: n += p(v.dxf.location)
        else:
            n = [1.0 if e.is_closed else 0.0]
            for v in e.vertices: n += [v.dxf.location[0], v.dxf.location[1], v.dxf.bulge]
    elif t == "INSERT":
        n = p(d.insert) + [d.xscale, d.yscale, d.rotation, d.column_count, d.row_count]
        t += ":" + d.name + ":" + str(len(doc.blocks.get(d.name)))
        for a in e.attribs: t += ":" + a.dxf.tag + "=" + a.dxf.text
    elif t == "ELLIPSE": n = p(d.center) + p(d.major_axis) + [d.ratio, d.start_param, d.end_param]
    elif t == "SPLINE":
        n = [d.degree, d.flags] + [float(k) for k in e.knots]
        for c in e.control_points: n += p(c)
        n += [float(w) for w in e.weights]
        for c in e.fit_points: n += p(c)
    elif t == "MTEXT":
        n = p(d.insert) + [d.char_height, g(d, "width", 0.0), d.attachment_point] + p(g(d, "text_direction", (1, 0, 0)))
        t += ":" + str(len(e.text)) + ":" + d.style
    elif t == "LEADER":
        for v in e.vertices: n += p(v)
        n += [d.has_arrowhead, d.path_type]
        t += ":" + d.dimstyle + ":" + ("annotated" if g(d, "annotation_handle", "0") not in ("0", None) else "plain")
    print("%s|%s|%d|%s|%s" % (t, g(d, "layer", "0"), g(d, "color", 256), g(d, "linetype", "BYLAYER"), " ".join(repr(float(x)) for x in n)))
for e in doc.layout("Layout1") if "Layout1" in doc.layouts else []:
    if e.dxftype() != "VIEWPORT": continue
    d = e.dxf
    n = p(d.center) + [d.width, d.height, d.id] + p(d.view_center_point)[:2] + [d.view_height, d.view_twist_angle]
    print("PAPER VIEWPORT:%d:%s" % (len(e.frozen_layers), ",".join(e.frozen_layers)) + "|" + " ".join(repr(float(x)) for x in n))
for g in doc.groups:
    print("GROUP %s|%s|%d|%d" % (g[0], g[1].dxf.description, g[1].dxf.selectable, len(g[1])))
)PY";

struct PeerEntity {
  std::string kind, layer;
  int colour = 0;
  std::string linetype;
  std::vector<double> numbers;
};

struct PeerResult {
  bool ran = false;
  int errors = -1;
  std::string auditText;
  std::vector<PeerEntity> entities;
  std::vector<std::string> paper;   // "VIEWPORT:...|numbers" of paper space
  std::vector<std::string> groups;  // "name|description|selectable|entities"
};

// Reads the file with ezdxf through a script that prints the audit's error
// count ("ERRORS n") and a line "kind|layer|colour|linetype|numbers" per
// entity (kPeerScript, or a test's own).
inline PeerResult readWithPeer(const std::string& path, const char* peerScript = kPeerScript) {
  PeerResult r;
  // The script and its output live in /tmp: the file read may lie in a
  // folder that must not be written.
  const std::string base = "/tmp/drawingdb_peer_" + std::to_string(getpid());
  const std::string script = base + ".py", out = base + ".out";
  {
    std::ofstream s(script);
    s << peerScript;
  }
  const std::string cmd = "/usr/bin/python3 " + script + " " + path + " >" + out + " 2>&1";
  r.ran = std::system(cmd.c_str()) == 0;
  std::ifstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("ERRORS ", 0) == 0) {
      r.errors = std::stoi(line.substr(7));
    } else if (line.rfind("PAPER ", 0) == 0) {
      r.paper.push_back(line.substr(6));
    } else if (line.rfind("GROUP ", 0) == 0) {
      r.groups.push_back(line.substr(6));
    } else if (line.rfind("AUDIT ", 0) == 0) {
      r.auditText += line + "\n";
    } else if (std::count(line.begin(), line.end(), '|') == 4) {
      PeerEntity e;
      std::vector<std::string> parts;
      std::stringstream ss(line);
      std::string part;
      while (std::getline(ss, part, '|')) parts.push_back(part);
      if (parts.size() < 4) continue;
      e.kind = parts[0];
      e.layer = parts[1];
      e.colour = std::atoi(parts[2].c_str());
      e.linetype = parts[3];
      if (parts.size() > 4) {
        std::stringstream ns(parts[4]);
        double v;
        while (ns >> v) e.numbers.push_back(v);
      }
      r.entities.push_back(std::move(e));
    } else if (!r.ran) {
      r.auditText += line + "\n";
    }
  }
  std::remove(script.c_str());
  std::remove(out.c_str());
  return r;
}

}  // namespace sample
