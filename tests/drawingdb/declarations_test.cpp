// The declarations drive the codecs, so they are checked as data: each
// covers every member of its struct, and each kind, record and header
// variable written in every release reads back with the values that
// release can carry.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <type_traits>

#include "drawingdb/audit.h"
#include "drawingdb/dxf_codec.h"
#include "drawingdb/dxf_fields.h"
#include "drawingdb/schema.h"
#include "sample_drawing.h"

using namespace drawingdb;

namespace {

// The number of members of an aggregate: the longest brace list it
// accepts.
struct AnyValue {
  template <class T>
  operator T() const;
};
template <class T, class... A>
constexpr std::size_t memberCount() {
  if constexpr (requires { T{A{}..., AnyValue{}}; })
    return memberCount<T, A..., AnyValue>();
  else
    return sizeof...(A);
}

template <class T>
std::set<std::string_view> declaredMembers() {
  std::set<std::string_view> names;
  for (const Field<T>& f : fieldsOf<T>()) {
    if (const auto* list = std::get_if<const ListDesc<T>*>(&f.member)) names.insert((*list)->member());
    else if (!f.isMarker() && !std::holds_alternative<Fixed>(f.member)) names.insert(f.name);
    else if (f.code < 0 && f.name != "(no fields)") names.insert(f.name);  // kept whole by the codec
  }
  return names;
}

// `handled` members are written by the codec around the field walk
// (the followers of polylines and inserts, the handles of vertices).
// Kinds built on a base they share with others (`Base`) count the base's
// members in place of it.
template <class T, class Base = void>
void expectCovered(const char* name, std::size_t handled = 0) {
  SCOPED_TRACE(name);
  std::size_t members = memberCount<T>();
  if constexpr (!std::is_void_v<Base>) members += memberCount<Base>() - 1;
  EXPECT_EQ(declaredMembers<T>().size() + handled, members);
}

TEST(Declarations, CoverEveryMember) {
  expectCovered<Line>("Line");
  expectCovered<PointEntity>("Point");
  expectCovered<Circle>("Circle");
  expectCovered<Arc>("Arc");
  expectCovered<Text>("Text");
  expectCovered<Ellipse>("Ellipse");
  expectCovered<Solid>("Solid");
  expectCovered<Face3d>("Face3d");
  expectCovered<Insert>("Insert", 3);
  expectCovered<Polyline>("Polyline", 3);
  expectCovered<Vertex>("Vertex", 2);  // the handle and its own common groups
  expectCovered<LwPolyline>("LwPolyline");
  expectCovered<LwVertex>("LwVertex");
  expectCovered<AttDef, AttributeText>("AttDef");
  expectCovered<Attrib, AttributeText>("Attrib");
  expectCovered<UnknownEntity>("UnknownEntity");
  expectCovered<Layer>("Layer");
  expectCovered<Linetype>("Linetype");
  expectCovered<Dash>("Dash");
  expectCovered<TextStyle>("TextStyle");
  expectCovered<View>("View");
  expectCovered<Ucs>("Ucs");
  expectCovered<Vport>("Vport");
  expectCovered<AppId>("AppId");
  expectCovered<DimStyle>("DimStyle");
  expectCovered<Dictionary>("Dictionary");
  expectCovered<DictionaryEntry>("DictionaryEntry");
  expectCovered<Layout>("Layout");
  expectCovered<UnknownObject>("UnknownObject");
  expectCovered<Spline>("Spline");
  expectCovered<MText>("MText");
  expectCovered<Leader>("Leader");
  expectCovered<Viewport>("Viewport");
  expectCovered<Group>("Group");
  expectCovered<Dimension>("Dimension");
  expectCovered<Hatch>("Hatch");
  expectCovered<HatchLine>("HatchLine");
}

// Within one subclass no two fields share a group code (a reader could
// not tell them apart).
template <class T>
void expectDistinctCodes(const char* name) {
  SCOPED_TRACE(name);
  std::set<int> codes;
  for (const Field<T>& f : fieldsOf<T>()) {
    if (f.isMarker()) {
      codes.clear();
      continue;
    }
    std::vector<int> own{f.code};
    if (std::holds_alternative<Point3 T::*>(f.member)) own = {f.code, f.code + 10, f.code + 20};
    for (int c : own) EXPECT_TRUE(codes.insert(c).second || std::holds_alternative<const ListDesc<T>*>(f.member))
        << f.name << " " << c;
  }
}

TEST(Declarations, CodesAreDistinctWithinASubclass) {
  expectDistinctCodes<Line>("Line");
  expectDistinctCodes<Text>("Text");
  expectDistinctCodes<AttDef>("AttDef");
  expectDistinctCodes<Attrib>("Attrib");
  expectDistinctCodes<Insert>("Insert");
  expectDistinctCodes<Polyline>("Polyline");
  expectDistinctCodes<Vertex>("Vertex");
  expectDistinctCodes<LwPolyline>("LwPolyline");
  expectDistinctCodes<Vport>("Vport");
  expectDistinctCodes<DimStyle>("DimStyle");
  expectDistinctCodes<Layout>("Layout");
  expectDistinctCodes<Spline>("Spline");
  expectDistinctCodes<MText>("MText");
  expectDistinctCodes<Leader>("Leader");
  expectDistinctCodes<Viewport>("Viewport");
  expectDistinctCodes<Group>("Group");
  expectDistinctCodes<Dimension>("Dimension");
  expectDistinctCodes<HatchLine>("HatchLine");
  std::set<std::string_view> names;
  for (const HeaderVar& v : headerVars()) EXPECT_TRUE(names.insert(v.name).second) << v.name;
}

// ------------------------------------------------------------ round trips

template <class T>
void expectSameFields(const T& a, const T& b, Release r) {
  for (const Field<T>& f : fieldsOf<T>()) {
    if (!f.dxf.has(r) || f.isMarker()) continue;
    if (f.when != nullptr && !f.when(a)) continue;
    SCOPED_TRACE(std::string(f.name));
    std::visit(Overloaded{
                   [&](std::monostate) {},
                   [&](double T::*m) { EXPECT_NEAR(a.*m, b.*m, 1e-9 * std::max(1.0, std::fabs(a.*m))); },
                   [&](std::int32_t T::*m) { EXPECT_EQ(a.*m, b.*m); },
                   [&](std::string T::*m) { EXPECT_EQ(a.*m, b.*m); },
                   [&](Name T::*m) { EXPECT_EQ(a.*m, b.*m); },
                   [&](bool T::*m) { EXPECT_EQ(a.*m, b.*m); },
                   [&](Handle T::*m) { EXPECT_EQ(a.*m == 0, b.*m == 0); },
                   [&](Point3 T::*m) {
                     EXPECT_NEAR((a.*m).x, (b.*m).x, 1e-9 * std::max(1.0, std::fabs((a.*m).x)));
                     EXPECT_NEAR((a.*m).y, (b.*m).y, 1e-9 * std::max(1.0, std::fabs((a.*m).y)));
                     if (f.z.has(r)) {
                       EXPECT_NEAR((a.*m).z, (b.*m).z, 1e-9);
                     }
                   },
                   [&](const ListDesc<T>* list) { EXPECT_EQ(list->size(a), list->size(b)); },
                   [&](Fixed) {},
               },
               f.member);
  }
}

using sample::everyWrittenForm;
using sample::Form;
using sample::formName;

Database writeAndRead(Database& db, const Form& form) {
  StringSink sink;
  const Status w = writeDxf(db, sink, {form.release, form.binary, 17});
  EXPECT_TRUE(w.ok()) << w.detail;
  Database back;
  const DxfReadResult r = readDxf(sink.data, back);
  EXPECT_TRUE(r.status.ok()) << r.status.detail;
  for (const Finding& f : r.findings) ADD_FAILURE() << f.code << ": " << f.detail;
  // What was written whole reads back whole: owners, handles, references.
  for (const Finding& f : audit(back, {false})) ADD_FAILURE() << "audit: " << f.code << ": " << f.detail;
  return back;
}

TEST(RoundTrip, EveryKindInEveryRelease) {
  for (const Form& form : everyWrittenForm()) {
    SCOPED_TRACE(formName(form));
    Database db = sample::drawing(form.release);
    Database back = writeAndRead(db, form);
    EXPECT_EQ(back.release, form.release);
    const BlockRecord& ms = db.modelSpace();
    const BlockRecord& ms2 = back.modelSpace();
    ASSERT_EQ(ms.entities.size(), ms2.entities.size());
    for (std::size_t i = 0; i < ms.entities.size(); ++i) {
      const Entity& a = db.entities[ms.entities[i]];
      const Entity& b = back.entities[ms2.entities[i]];
      SCOPED_TRACE(a.dxfName());
      EXPECT_EQ(a.common.layer, b.common.layer);
      EXPECT_EQ(a.common.colour, b.common.colour);
      EXPECT_TRUE(sameName(a.common.linetype, b.common.linetype));
      if (form.release >= Release::R10) {
        EXPECT_EQ(a.common.handle, b.common.handle);
      }
      if (a.kind == EntityKind::LwPolyline && form.release < Release::R14) {
        // Written as a 2D polyline with the same vertices.
        ASSERT_EQ(b.kind, EntityKind::Polyline);
        const auto& lw = get<LwPolyline>(a.data);
        const auto& p = get<Polyline>(b.data);
        ASSERT_EQ(lw.vertices.size(), p.vertices.size());
        for (std::size_t k = 0; k < lw.vertices.size(); ++k) {
          EXPECT_EQ(lw.vertices[k].location.x, p.vertices[k].location.x);
          EXPECT_EQ(lw.vertices[k].bulge, p.vertices[k].bulge);
        }
        EXPECT_EQ(p.flags & 1, lw.flags & 1);
        continue;
      }
      ASSERT_EQ(a.kind, b.kind);
      visit(Overloaded{
                     [&](const UnknownEntity&) {},
                     [&](const auto& x) {
                       using T = std::decay_t<decltype(x)>;
                       expectSameFields<T>(x, get<T>(b.data), form.release);
                     },
                 },
                 a.data);
      if (const auto* p = get_if<Polyline>(&a.data)) {
        const auto& q = get<Polyline>(b.data);
        for (std::size_t k = 0; k < p->vertices.size(); ++k) expectSameFields(p->vertices[k], q.vertices[k], form.release);
      }
      if (const auto* p = get_if<Insert>(&a.data)) {
        const auto& q = get<Insert>(b.data);
        ASSERT_EQ(p->attributes.size(), q.attributes.size());
        for (std::size_t k = 0; k < p->attributes.size(); ++k) {
          const Entity& x = db.entities[p->attributes[k]];
          const Entity& y = back.entities[q.attributes[k]];
          ASSERT_EQ(y.kind, EntityKind::Attrib);
          EXPECT_EQ(x.common.layer, y.common.layer);
          expectSameFields(get<Attrib>(x.data), get<Attrib>(y.data), form.release);
        }
      }
      if (const auto* p = get_if<LwPolyline>(&a.data)) {
        const auto& q = get<LwPolyline>(b.data);
        for (std::size_t k = 0; k < p->vertices.size(); ++k) expectSameFields(p->vertices[k], q.vertices[k], form.release);
      }
    }
    // Paper space: the viewport, where the release has it.
    const BlockRecord& ps = db.paperSpace();
    const BlockRecord& ps2 = back.paperSpace();
    ASSERT_EQ(ps.entities.size(), ps2.entities.size());
    for (std::size_t i = 0; i < ps.entities.size(); ++i) {
      const Entity& a = db.entities[ps.entities[i]];
      const Entity& b = back.entities[ps2.entities[i]];
      ASSERT_EQ(a.kind, b.kind);
      ASSERT_EQ(a.kind, EntityKind::Viewport);
      const Viewport& v = get<Viewport>(a.data);
      const Viewport& w = get<Viewport>(b.data);
      expectSameFields(v, w, form.release);
      // Before 2000 the view travels as XDATA; it reads back all the same.
      EXPECT_EQ(v.viewCenter, w.viewCenter);
      EXPECT_EQ(v.viewHeight, w.viewHeight);
      EXPECT_EQ(v.twist, w.twist);
      EXPECT_EQ(v.flags, w.flags);
      // Layer records carry handles from R13 on; before, by name.
      ASSERT_EQ(v.frozenLayers.size(), w.frozenLayers.size());
      auto layerName = [](const Database& d, Handle h) {
        for (const auto& r : d.layers.records)
          if (r.common.handle == h) return r.common.name;
        return std::string("?");
      };
      for (std::size_t k = 0; k < v.frozenLayers.size(); ++k)
        EXPECT_EQ(layerName(db, v.frozenLayers[k]), layerName(back, w.frozenLayers[k]));
      EXPECT_TRUE(b.common.xdata().empty());
    }
    // The MTEXT and its leader point at each other.
    for (std::size_t i = 0; i < ms.entities.size(); ++i) {
      const Entity& a = db.entities[ms.entities[i]];
      const Entity& b = back.entities[ms2.entities[i]];
      EXPECT_EQ(a.common.reactors(), b.common.reactors()) << a.dxfName();
      if (const auto* l = get_if<Leader>(&a.data)) {
        EXPECT_EQ(l->annotation, get<Leader>(b.data).annotation);
      }
      if (const auto* m = get_if<MText>(&a.data)) {
        EXPECT_EQ(m->value, get<MText>(b.data).value);
      }
    }
    // The tables and their records.
    const Record<Linetype>* dashed = back.linetypes.find("DASHED");
    ASSERT_NE(dashed, nullptr);
    expectSameFields(db.linetypes.find("DASHED")->data, dashed->data, form.release);
    ASSERT_EQ(dashed->data.dashes.size(), 2u);
    EXPECT_EQ(dashed->data.dashes[1].length, -0.25);
    expectSameFields(db.layers.find("WALLS")->data, back.layers.find("WALLS")->data, form.release);
    expectSameFields(db.styles.find("ISO")->data, back.styles.find("ISO")->data, form.release);
    const BlockRecord* b1 = back.findBlock("B1");
    ASSERT_NE(b1, nullptr);
    ASSERT_EQ(b1->entities.size(), 3u);
    const Entity& attdef = back.entities[b1->entities[2]];
    ASSERT_EQ(attdef.kind, EntityKind::AttDef);
    expectSameFields(get<AttDef>(db.entities[db.findBlock("B1")->entities[2]].data), get<AttDef>(attdef.data),
                     form.release);
    EXPECT_EQ(b1->base, (Point3{1, 1, 0}));
  }
}

// Every header variable, set away from its default, reads back in every
// release that carries it.
TEST(RoundTrip, EveryHeaderVariableInEveryRelease) {
  for (const Form& form : everyWrittenForm()) {
    SCOPED_TRACE(formName(form));
    Database db = Database::create(form.release);
    const auto vars = headerVars();
    for (std::size_t i = 0; i < vars.size(); ++i) {
      const HeaderVar& v = vars[i];
      switch (v.kind) {
        case ValueKind::Real: db.header.valueAt(i) = v.real + 1.5; break;
        case ValueKind::Int: db.header.valueAt(i) = static_cast<std::int32_t>(v.real) + 1; break;
        case ValueKind::Text:
          // The code page must be one the toolkit knows to read the text.
          db.header.valueAt(i) = v.name == "$DWGCODEPAGE" ? std::string("ANSI_1251") : std::string("X").append(v.name.substr(1));
          break;
        case ValueKind::Point: db.header.valueAt(i) = Point3{v.point.x + 1, v.point.y - 2, v.point.z + 3}; break;
        case ValueKind::Handle: break;
        case ValueKind::Bool: db.header.valueAt(i) = v.real == 0; break;
      }
    }
    Database back = writeAndRead(db, form);
    for (std::size_t i = 0; i < vars.size(); ++i) {
      const HeaderVar& v = vars[i];
      if (v.name == "$ACADVER" || v.name == "$HANDSEED" || v.name == "$HANDLING") continue;
      SCOPED_TRACE(std::string(v.name));
      const HeaderValue& a = db.header.valueAt(i);
      const HeaderValue& b = back.header.valueAt(i);
      if (!v.dxf.has(form.release) && !v.altDxf.has(form.release)) {
        EXPECT_EQ(b, defaultValue(v));
        continue;
      }
      if (v.kind == ValueKind::Point) {
        const Point3 p = std::get<Point3>(a), q = std::get<Point3>(b);
        EXPECT_EQ(p.x, q.x);
        EXPECT_EQ(p.y, q.y);
        EXPECT_EQ(v.z.has(form.release) ? p.z : 0.0, q.z);
      } else {
        EXPECT_EQ(a, b);
      }
    }
    EXPECT_EQ(back.header.text("$ACADVER"), releaseInfo(form.release).acadver);
    // The seed written lies above every handle of the file; from R13 on
    // everything has a handle and reading gives none of its own.
    if (form.release >= Release::R10) {
      const Handle seed = back.header.handle("$HANDSEED");
      for (const Entity& e : back.entities) EXPECT_LT(e.common.handle, seed);
      if (form.release >= Release::R13) {
        EXPECT_EQ(back.handleSeed(), seed);
      }
    }
  }
}

}  // namespace
