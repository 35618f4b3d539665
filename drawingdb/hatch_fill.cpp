#include "drawingdb/hatch_fill.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace drawingdb {
namespace {

using namespace plane;

// Limits that keep a drawing of a hatch to what a file can usefully hold
// and its making to a bounded time; reaching one is reported.
constexpr std::size_t kMaxPieces = 200000;     // entities per hatch
constexpr double kMaxLinesPerFamily = 20000;   // pattern lines of one family
// Pieces visited by the slab fill (heights times the pieces crossing
// each) and crossings listed: the fill of boundaries crossing themselves
// is not n log n, so its work has a bound of its own.
constexpr std::size_t kMaxSlabWork = 100000000;
constexpr std::size_t kMaxCrossings = kMaxPieces;
constexpr double kArcStep = kPi / 36;          // 5 degrees per flattened piece
constexpr std::size_t kSplineSamplesPerPoint = 8;

class Outline {
 public:
  std::vector<HatchSegment> segments;

  void loopFrom(const std::vector<Vec>& points) {
    if (points.size() < 2) return;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) add(points[i], points[i + 1]);
    add(points.back(), points.front());
  }

  // The points of an arc around `c` with radii along `major` and `minor`
  // for parameters from `t0` sweeping `sweep` (radians, signed).
  static void arcPoints(std::vector<Vec>& out, Vec c, Vec major, Vec minor, double t0, double sweep) {
    const auto pieces = static_cast<std::size_t>(std::clamp(std::ceil(std::fabs(sweep) / kArcStep), 1.0, 72.0));
    for (std::size_t i = 0; i <= pieces; ++i) {
      const double t = t0 + sweep * static_cast<double>(i) / static_cast<double>(pieces);
      out.push_back(c + major * std::cos(t) + minor * std::sin(t));
    }
  }

 private:
  void add(Vec a, Vec b) {
    if (!std::isfinite(a.x) || !std::isfinite(a.y) || !std::isfinite(b.x) || !std::isfinite(b.y)) return;
    if (a.x == b.x && a.y == b.y) return;
    segments.push_back({a, b});
  }
};

// A bulged polyline piece from p to q: the arc whose included angle is
// 4 atan(bulge), counter-clockwise for positive bulges.
void bulgePoints(std::vector<Vec>& out, Vec p, Vec q, double bulge) {
  if (bulge == 0 || !std::isfinite(bulge)) {
    out.push_back(p);
    return;
  }
  const Vec chord = q - p;
  const double l = length(chord);
  if (!(l > 0)) {
    out.push_back(p);
    return;
  }
  const Vec centre = (p + q) * 0.5 + perpendicular(chord) * ((1 - bulge * bulge) / (4 * bulge));
  const double r = length(p - centre);
  std::vector<Vec> arc;
  Outline::arcPoints(arc, centre, Vec{r, 0}, Vec{0, r}, angleOf(p - centre), 4 * std::atan(bulge));
  arc.pop_back();  // q starts the next piece
  out.insert(out.end(), arc.begin(), arc.end());
}

// Arc and elliptic arc edges: angles in degrees counter-clockwise; a
// clockwise edge holds them mirrored (its points lie at the negated
// angles), so both read as the same set of points.
void arcEdgePoints(std::vector<Vec>& out, const HatchEdge& e) {
  const Vec c = of(e.start);
  Vec major{e.radius, 0}, minor{0, e.radius};
  if (e.type == 3) {
    major = of(e.end);
    minor = perpendicular(major) * e.radius;
  }
  double start = radians(e.startAngle), end = radians(e.endAngle);
  double sweep = end - start;
  if (!(std::fabs(sweep) >= kTwoPi)) sweep = normalized(sweep);
  if (sweep == 0) sweep = kTwoPi;
  if (!std::isfinite(sweep)) return;
  if (!e.counterClockwise) {
    start = -start;
    sweep = -sweep;
  }
  Outline::arcPoints(out, c, major, minor, start, sweep);
}

bool splineIsValid(const HatchEdge& e) {
  const std::size_t n = e.controlPoints.size();
  const auto p = static_cast<std::size_t>(std::max(e.degree, 0));
  if (p < 1 || n <= p || e.knots.size() != n + p + 1) return false;
  for (std::size_t i = 0; i < e.knots.size(); ++i)
    if (!std::isfinite(e.knots[i]) || (i > 0 && e.knots[i] < e.knots[i - 1])) return false;
  return e.knots[n] > e.knots[p];
}

// A point of a B-spline by de Boor's algorithm (rational when weighted).
Vec splinePoint(const HatchEdge& e, double u) {
  const std::size_t n = e.controlPoints.size(), p = static_cast<std::size_t>(e.degree);
  std::size_t k = p;
  while (k + 1 < n && e.knots[k + 1] <= u) ++k;
  const bool weighted = e.weights.size() == n;
  std::vector<double> x(p + 1), y(p + 1), w(p + 1);
  for (std::size_t j = 0; j <= p; ++j) {
    const std::size_t i = k - p + j;
    w[j] = weighted ? e.weights[i] : 1;
    x[j] = e.controlPoints[i].x * w[j];
    y[j] = e.controlPoints[i].y * w[j];
  }
  for (std::size_t r = 1; r <= p; ++r)
    for (std::size_t j = p; j >= r; --j) {
      const std::size_t i = k - p + j;
      const double span = e.knots[i + p - r + 1] - e.knots[i];
      const double a = span > 0 ? (u - e.knots[i]) / span : 0;
      x[j] = (1 - a) * x[j - 1] + a * x[j];
      y[j] = (1 - a) * y[j - 1] + a * y[j];
      w[j] = (1 - a) * w[j - 1] + a * w[j];
    }
  return w[p] != 0 ? Vec{x[p] / w[p], y[p] / w[p]} : Vec{x[p], y[p]};
}

void splineEdgePoints(std::vector<Vec>& out, const HatchEdge& e) {
  if (!splineIsValid(e)) {
    // A spline that cannot be evaluated: its control polygon, else its fit points.
    const auto& points = e.controlPoints.empty() ? e.fitPoints : e.controlPoints;
    for (const Point3& p : points) out.push_back(of(p));
    return;
  }
  const std::size_t n = e.controlPoints.size(), p = static_cast<std::size_t>(e.degree);
  const double u0 = e.knots[p], u1 = e.knots[n];
  const std::size_t samples = n * kSplineSamplesPerPoint;
  for (std::size_t i = 0; i <= samples; ++i)
    out.push_back(splinePoint(e, u0 + (u1 - u0) * static_cast<double>(i) / static_cast<double>(samples)));
}

bool pathCounts(const Hatch& h, const HatchPath& p, bool anyExternal) {
  if (h.style != 2 || !anyExternal) return true;
  return (p.flags & (1 | 16)) != 0;
}

// Crossings of the segments with lines s = const in a frame (t along the
// lines, s across them): the segments sorted by their lower s, an active
// list swept upwards.  Lines must come in increasing s.
class Sweep {
 public:
  struct Piece {
    double t0, s0, t1, s1;  // from the lower end to the upper end
    double lo() const { return s0; }
    double hi() const { return s1; }
    // Never NaN (pieces far out may overflow; they then sort last), so
    // every order of pieces by it with their numbers as tie-break is total.
    double tAt(double s) const {
      const double t = s1 == s0 ? t0 : t0 + (t1 - t0) * (s - s0) / (s1 - s0);
      return std::isnan(t) ? std::numeric_limits<double>::infinity() : t;
    }
  };

  Sweep(const std::vector<HatchSegment>& segments, Vec along, Vec across) {
    pieces_.reserve(segments.size());
    for (const HatchSegment& g : segments) {
      Piece p{dot(g.a, along), dot(g.a, across), dot(g.b, along), dot(g.b, across)};
      if (p.s0 == p.s1) continue;  // parallel to the lines: crosses none
      if (p.s0 > p.s1) p = Piece{p.t1, p.s1, p.t0, p.s0};
      pieces_.push_back(p);
    }
    std::sort(pieces_.begin(), pieces_.end(), [](const Piece& a, const Piece& b) { return a.lo() < b.lo(); });
  }

  // The pieces crossing the line at `s` (lower end included, upper end
  // not, so a vertex counts once), as indices.
  const std::vector<std::size_t>& at(double s) {
    while (next_ < pieces_.size() && pieces_[next_].lo() <= s) active_.push_back(next_++);
    std::erase_if(active_, [&](std::size_t i) { return pieces_[i].hi() <= s; });
    return active_;
  }
  const Piece& piece(std::size_t i) const { return pieces_[i]; }
  std::size_t size() const { return pieces_.size(); }
  bool empty() const { return pieces_.empty(); }
  double low() const { return pieces_.front().lo(); }
  double high() const {
    double h = pieces_.front().hi();
    for (const Piece& p : pieces_) h = std::max(h, p.hi());
    return h;
  }

 private:
  std::vector<Piece> pieces_;
  std::vector<std::size_t> active_;
  std::size_t next_ = 0;
};

Entity lineEntity(Vec a, Vec b) {
  Entity e = makeEntity(EntityKind::Line);
  get<Line>(e.data) = Line{at(a), at(b)};
  return e;
}

Entity solidEntity(const Sweep::Piece& l, const Sweep::Piece& r, double y0, double y1) {
  Entity e = makeEntity(EntityKind::Solid);
  Solid& s = get<Solid>(e.data);
  s.corner1 = {l.tAt(y0), y0, 0};
  s.corner2 = {r.tAt(y0), y0, 0};
  s.corner3 = {l.tAt(y1), y1, 0};
  s.corner4 = {r.tAt(y1), y1, 0};
  return e;
}

// What a drawing of a hatch could not do in full.
struct Shortfall {
  bool piecesCapped = false;    // stopped at kMaxPieces entities
  bool slabWorkCapped = false;  // the slab fill stopped at kMaxSlabWork
  bool crossingsCapped = false; // more than kMaxCrossings crossings: not split at the others
  bool patternTooFine = false;  // drawn filled instead
  std::size_t overflowed = 0;   // pieces whose numbers overflowed, left out
};

// Solid fill of any boundary, loops crossing each other too: the area
// between consecutive heights (of vertices and of crossings) is cut into
// trapezoids between pairs of crossings; a trapezoid continues upwards
// while the same two boundary pieces bound it.  Its work is the sum over
// the heights of the pieces crossing each, so the boundaries without
// crossings take the way below.
std::vector<Entity> solidFillBySlabs(const std::vector<HatchSegment>& outline, std::vector<double> heights,
                                     Shortfall& shortfall) {
  std::vector<Entity> out;
  Sweep sweep(outline, {1, 0}, {0, 1});
  heights.reserve(heights.size() + outline.size() * 2);
  for (const HatchSegment& g : outline) {
    heights.push_back(g.a.y);
    heights.push_back(g.b.y);
  }
  std::erase_if(heights, [](double y) { return !std::isfinite(y); });
  std::sort(heights.begin(), heights.end());
  heights.erase(std::unique(heights.begin(), heights.end()), heights.end());
  struct Open {
    std::size_t left, right;
    double y0, y1;
  };
  std::vector<Open> open, still;
  std::vector<std::size_t> openWithLeft(sweep.size(), SIZE_MAX);  // index in `open` by left piece
  auto close = [&](const Open& o) {
    if (out.size() < kMaxPieces) out.push_back(solidEntity(sweep.piece(o.left), sweep.piece(o.right), o.y0, o.y1));
    else shortfall.piecesCapped = true;
  };
  std::vector<std::pair<double, std::size_t>> crossing;
  std::size_t work = 0;
  for (std::size_t k = 0; k + 1 < heights.size(); ++k) {
    const double y0 = heights[k], y1 = heights[k + 1], middle = (y0 + y1) / 2;
    crossing.clear();
    for (std::size_t i : sweep.at(y0)) crossing.emplace_back(sweep.piece(i).tAt(middle), i);
    work += crossing.size() + 1;
    if (work > kMaxSlabWork) {
      shortfall.slabWorkCapped = true;
      break;
    }
    std::sort(crossing.begin(), crossing.end());
    still.clear();
    for (std::size_t c = 0; c + 1 < crossing.size(); c += 2) {
      const std::size_t left = crossing[c].second, right = crossing[c + 1].second;
      const std::size_t at = openWithLeft[left];
      if (at != SIZE_MAX && open[at].right == right) {
        Open o = open[at];
        o.y1 = y1;
        still.push_back(o);
        open[at].left = SIZE_MAX;  // taken over
      } else {
        still.push_back({left, right, y0, y1});
      }
    }
    for (const Open& o : open) {
      if (o.left == SIZE_MAX) continue;
      close(o);
      openWithLeft[o.left] = SIZE_MAX;
    }
    open.swap(still);
    for (std::size_t i = 0; i < open.size(); ++i) openWithLeft[open[i].left] = i;
    if (out.size() >= kMaxPieces) {
      shortfall.piecesCapped = true;
      return out;
    }
  }
  for (const Open& o : open) close(o);
  return out;
}

// Whether two pieces cross (touching at an end is no crossing; lying on
// one line over a length is).
bool piecesCross(const Sweep::Piece& p, const Sweep::Piece& q) {
  const Vec p0{p.t0, p.s0}, p1{p.t1, p.s1}, q0{q.t0, q.s0}, q1{q.t1, q.s1};
  const double d1 = cross(p1 - p0, q0 - p0), d2 = cross(p1 - p0, q1 - p0);
  const double d3 = cross(q1 - q0, p0 - q0), d4 = cross(q1 - q0, p1 - q0);
  if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) return true;
  if (d1 == 0 && d2 == 0) return std::max(p.lo(), q.lo()) < std::min(p.hi(), q.hi());
  return false;
}

// The pieces crossing the sweep's height, left to right: a tree (a treap,
// its priorities a fixed mix of the piece numbers) ordered by where pieces
// were put, never by comparing stored pieces with each other.  Comparisons
// only choose the way down when a piece is put in or a place looked up, so
// rounding that judges two nearly touching pieces differently at different
// heights cannot break the tree: at worst it puts a piece next to its true
// place.  Every operation walks one path: log n expected.
class PlaceOrder {
 public:
  static constexpr std::size_t kNone = SIZE_MAX;

  explicit PlaceOrder(std::size_t n) : left_(n, kNone), right_(n, kNone), up_(n, kNone), in_(n, 0) {}

  bool contains(std::size_t i) const { return in_[i] != 0; }

  // Puts piece i in; `goesLeft(j)` says whether it belongs left of piece j.
  template <class GoesLeft>
  void insert(std::size_t i, GoesLeft goesLeft) {
    std::size_t parent = kNone, at = root_;
    bool asLeft = false;
    while (at != kNone) {
      parent = at;
      asLeft = goesLeft(at);
      at = asLeft ? left_[at] : right_[at];
    }
    left_[i] = right_[i] = kNone;
    up_[i] = parent;
    in_[i] = 1;
    if (parent == kNone) root_ = i;
    else (asLeft ? left_[parent] : right_[parent]) = i;
    while (up_[i] != kNone && priority(up_[i]) < priority(i)) rotateUp(i);
  }

  void erase(std::size_t i) {
    while (left_[i] != kNone || right_[i] != kNone) {
      std::size_t child = left_[i] == kNone ? right_[i] : left_[i];
      if (left_[i] != kNone && right_[i] != kNone && priority(right_[i]) > priority(left_[i])) child = right_[i];
      rotateUp(child);
    }
    const std::size_t parent = up_[i];
    if (parent == kNone) root_ = kNone;
    else (left_[parent] == i ? left_[parent] : right_[parent]) = kNone;
    up_[i] = kNone;
    in_[i] = 0;
  }

  std::size_t previous(std::size_t i) const { return neighbour(i, left_, right_); }
  std::size_t next(std::size_t i) const { return neighbour(i, right_, left_); }

  // The leftmost piece for which `beyond(j)` holds, when it holds for the
  // pieces from some place on.
  template <class Beyond>
  std::size_t firstBeyond(Beyond beyond) const {
    std::size_t found = kNone, at = root_;
    while (at != kNone) {
      if (beyond(at)) {
        found = at;
        at = left_[at];
      } else {
        at = right_[at];
      }
    }
    return found;
  }

 private:
  static std::uint64_t priority(std::size_t i) {
    std::uint64_t z = static_cast<std::uint64_t>(i) + 0x9e3779b97f4a7c15ULL;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);  // one to one: no two pieces share a priority
  }

  // The neighbour on the `near` side (previous: near = left_).
  std::size_t neighbour(std::size_t i, const std::vector<std::size_t>& near, const std::vector<std::size_t>& far) const {
    if (near[i] != kNone) {
      i = near[i];
      while (far[i] != kNone) i = far[i];
      return i;
    }
    while (up_[i] != kNone && near[up_[i]] == i) i = up_[i];
    return up_[i];
  }

  // Lifts x above its parent, the order kept.
  void rotateUp(std::size_t x) {
    const std::size_t p = up_[x], g = up_[p];
    if (left_[p] == x) {
      left_[p] = right_[x];
      if (right_[x] != kNone) up_[right_[x]] = p;
      right_[x] = p;
    } else {
      right_[p] = left_[x];
      if (left_[x] != kNone) up_[left_[x]] = p;
      left_[x] = p;
    }
    up_[p] = x;
    up_[x] = g;
    if (g == kNone) root_ = x;
    else if (left_[g] == p) left_[g] = x;
    else right_[g] = x;
  }

  std::vector<std::size_t> left_, right_, up_;
  std::vector<char> in_;
  std::size_t root_ = kNone;
};

// Solid fill of boundaries whose loops do not cross: a sweep upwards
// keeps the pieces crossing the current height in order (PlaceOrder); at
// each vertex height only the pieces that end or start there and their
// neighbours change, and the area to the right of a piece is inside when
// it is not inside to the right of its left neighbour.  A trapezoid runs
// between two neighbours from where they became neighbours to where they
// stop being so.  Every new pair of neighbours is checked for crossing;
// the first crossing of the boundary is always met so (the lowest
// crossing's two pieces are neighbours before the sweep reaches it), and
// the fill is then left to the slab way.  Work: n log n for n pieces.
bool solidFillBySweep(const std::vector<HatchSegment>& outline, std::vector<Entity>& out, Shortfall& shortfall) {
  Sweep sweep(outline, {1, 0}, {0, 1});
  const std::size_t n = sweep.size();
  if (n == 0) return true;
  std::vector<std::size_t> byTop(n);
  for (std::size_t i = 0; i < n; ++i) byTop[i] = i;
  std::sort(byTop.begin(), byTop.end(), [&](std::size_t a, std::size_t b) {
    const double ha = sweep.piece(a).hi(), hb = sweep.piece(b).hi();
    return ha < hb || (ha == hb && a < b);
  });
  PlaceOrder order(n);
  // Flat edges count for no crossing of a height, but a piece passing
  // between their ends crosses them.
  std::vector<HatchSegment> flat;
  for (const HatchSegment& g : outline)
    if (g.a.y == g.b.y) flat.push_back(g.a.x <= g.b.x ? g : HatchSegment{g.b, g.a});
  std::sort(flat.begin(), flat.end(), [](const HatchSegment& a, const HatchSegment& b) { return a.a.y < b.a.y; });
  std::size_t nextFlat = 0;
  std::vector<char> insideRight(n, 0);
  struct Open {
    std::size_t right = SIZE_MAX;
    double from = 0;
  };
  std::vector<Open> open(n);  // the trapezoid to the right of each piece
  auto crossing = [&](std::size_t a, std::size_t b) { return piecesCross(sweep.piece(a), sweep.piece(b)); };
  auto closeAt = [&](std::size_t left, double y) {
    Open& o = open[left];
    if (o.right == SIZE_MAX) return;
    if (y > o.from) {
      if (out.size() < kMaxPieces) out.push_back(solidEntity(sweep.piece(left), sweep.piece(o.right), o.from, y));
      else shortfall.piecesCapped = true;
    }
    o.right = SIZE_MAX;
  };
  // The trapezoid right of `left` as it must be from height y on.
  auto settle = [&](std::size_t left, double y) {
    if (!order.contains(left)) return;
    const std::size_t right = insideRight[left] ? order.next(left) : SIZE_MAX;
    if (open[left].right == right) return;
    closeAt(left, y);
    if (right != SIZE_MAX) open[left] = {right, y};
  };
  std::size_t nextStart = 0, nextEnd = 0;
  std::vector<std::size_t> touched;
  std::vector<std::pair<double, std::size_t>> starting;  // place at `middle`, piece
  while (nextStart < n || nextEnd < n) {
    double y = nextEnd < n ? sweep.piece(byTop[nextEnd]).hi() : sweep.piece(nextStart).lo();
    if (nextStart < n) y = std::min(y, sweep.piece(nextStart).lo());
    touched.clear();
    // Pieces ending here leave; their neighbours meet.
    for (; nextEnd < n && sweep.piece(byTop[nextEnd]).hi() <= y; ++nextEnd) {
      const std::size_t i = byTop[nextEnd];
      if (!order.contains(i)) continue;
      const std::size_t l = order.previous(i), r = order.next(i);
      closeAt(i, y);
      order.erase(i);
      if (l != SIZE_MAX) touched.push_back(l);
      if (l != SIZE_MAX && r != SIZE_MAX && crossing(l, r)) return false;
    }
    for (; nextFlat < flat.size() && flat[nextFlat].a.y <= y; ++nextFlat) {
      const HatchSegment& f = flat[nextFlat];
      if (f.a.y < y) continue;  // below every piece
      const std::size_t inside = order.firstBeyond([&](std::size_t j) { return f.a.x < sweep.piece(j).tAt(y); });
      if (inside != SIZE_MAX && sweep.piece(inside).tAt(y) < f.b.x) return false;
    }
    // Pieces starting here join, from left to right, placed just above:
    // each one's place is computed once, at the middle of the slab above
    // (every piece there spans the whole slab).
    double above = std::numeric_limits<double>::infinity();
    starting.clear();
    std::size_t firstStarting = nextStart;
    for (; nextStart < n && sweep.piece(nextStart).lo() <= y; ++nextStart) {}
    if (nextStart < n) above = sweep.piece(nextStart).lo();
    if (nextEnd < n) above = std::min(above, sweep.piece(byTop[nextEnd]).hi());
    const double middle = std::isfinite(above) ? (y + above) / 2 : y;
    for (std::size_t i = firstStarting; i < nextStart; ++i) starting.emplace_back(sweep.piece(i).tAt(middle), i);
    std::sort(starting.begin(), starting.end());
    for (const auto& [place, i] : starting) {
      order.insert(i, [&, place = place, i = i](std::size_t j) {
        const double there = sweep.piece(j).tAt(middle);
        return place < there || (place == there && i < j);
      });
      const std::size_t l = order.previous(i), r = order.next(i);
      insideRight[i] = l == SIZE_MAX ? 1 : !insideRight[l];
      if ((l != SIZE_MAX && crossing(l, i)) || (r != SIZE_MAX && crossing(i, r))) return false;
      touched.push_back(i);
      if (l != SIZE_MAX) touched.push_back(l);
    }
    for (std::size_t i : touched) settle(i, y);
    if (out.size() >= kMaxPieces) {
      shortfall.piecesCapped = true;
      return true;
    }
  }
  return true;
}

// The heights where pieces cross (for boundaries that cross themselves,
// where the slabs must end at the crossings), found slab by slab between
// the heights of the vertices: the pieces spanning a slab, in their order
// at its bottom, cross inside it exactly where their order at its top
// differs, and a merge sort of the top places lists those pairs.  Work:
// the slab fill's (the pieces spanning each slab) times log, plus the
// crossings; both bounded, and reaching a bound is reported.
std::vector<double> crossingHeights(const std::vector<HatchSegment>& outline, Shortfall& shortfall) {
  std::vector<double> heights, vertexHeights;
  Sweep sweep(outline, {1, 0}, {0, 1});
  for (const HatchSegment& g : outline) {
    vertexHeights.push_back(g.a.y);
    vertexHeights.push_back(g.b.y);
  }
  std::sort(vertexHeights.begin(), vertexHeights.end());
  vertexHeights.erase(std::unique(vertexHeights.begin(), vertexHeights.end()), vertexHeights.end());
  struct Place {
    double bottom, top;
    std::size_t piece;
    bool operator<(const Place& o) const {
      return bottom < o.bottom || (bottom == o.bottom && (top < o.top || (top == o.top && piece < o.piece)));
    }
  };
  std::vector<Place> places, merged;
  std::size_t work = 0;
  for (std::size_t k = 0; k + 1 < vertexHeights.size(); ++k) {
    const double y0 = vertexHeights[k], y1 = vertexHeights[k + 1];
    places.clear();
    for (std::size_t i : sweep.at(y0)) places.push_back({sweep.piece(i).tAt(y0), sweep.piece(i).tAt(y1), i});
    work += places.size() + 1;
    if (work > kMaxSlabWork) {
      shortfall.slabWorkCapped = true;
      return heights;
    }
    std::sort(places.begin(), places.end());
    // Bottom-up merge sort by the top place; taking from the right run
    // while the left run still has pieces lower there is a crossing with
    // each of those.
    merged.resize(places.size());
    for (std::size_t width = 1; width < places.size(); width *= 2) {
      for (std::size_t from = 0; from < places.size(); from += 2 * width) {
        const std::size_t mid = std::min(from + width, places.size()), end = std::min(from + 2 * width, places.size());
        std::size_t a = from, b = mid, to = from;
        while (a < mid || b < end) {
          if (b == end || (a < mid && !(places[b].top < places[a].top))) {
            merged[to++] = places[a++];
            continue;
          }
          for (std::size_t c = a; c < mid; ++c) {
            if (heights.size() >= kMaxCrossings) {
              shortfall.crossingsCapped = true;
              return heights;
            }
            const Sweep::Piece &p = sweep.piece(places[c].piece), &q = sweep.piece(places[b].piece);
            const double f0 = p.tAt(y0) - q.tAt(y0), f1 = p.tAt(y1) - q.tAt(y1);
            const double h = y0 + (y1 - y0) * f0 / (f0 - f1);
            if (std::isfinite(h) && h > y0 && h < y1) heights.push_back(h);
          }
          merged[to++] = places[b++];
        }
      }
      places.swap(merged);
    }
  }
  return heights;
}

std::vector<Entity> solidFill(const std::vector<HatchSegment>& outline, Shortfall& shortfall) {
  std::vector<Entity> out;
  if (solidFillBySweep(outline, out, shortfall)) return out;
  shortfall.piecesCapped = false;  // the slab way starts over
  return solidFillBySlabs(outline, crossingHeights(outline, shortfall), shortfall);
}

struct Family {
  double angle;  // radians
  Vec base, offset;
  std::vector<double> dashes;
};

std::vector<Family> familiesOf(const Hatch& h) {
  std::vector<Family> families;
  for (const HatchLine& l : h.lines) families.push_back({radians(l.angle), {l.baseX, l.baseY}, {l.offsetX, l.offsetY}, l.dashes});
  if (families.empty()) {
    const double spacing = h.scale > 0 && std::isfinite(h.scale) ? h.scale : 1;
    const double a = radians(h.angle);
    families.push_back({a, {0, 0}, perpendicular(direction(a)) * spacing, {}});
    if (h.doubled) families.push_back({a + kPi / 2, {0, 0}, perpendicular(direction(a + kPi / 2)) * spacing, {}});
  }
  return families;
}

// Pattern lines clipped to the boundary; false when the pattern is too
// fine to draw.
bool patternFill(const std::vector<HatchSegment>& outline, const Hatch& h, std::vector<Entity>& out) {
  for (const Family& f : familiesOf(h)) {
    const Vec u = direction(f.angle), n = perpendicular(u);
    double spacing = dot(f.offset, n);
    if (!std::isfinite(spacing) || !std::isfinite(f.angle) || std::fabs(spacing) < 1e-12) continue;
    const double shift = dot(f.offset, u) * (spacing < 0 ? -1 : 1);
    spacing = std::fabs(spacing);
    Sweep sweep(outline, u, n);
    if (sweep.empty()) continue;
    const double s0 = dot(f.base, n), t0 = dot(f.base, u);
    const double first = std::ceil((sweep.low() - s0) / spacing), last = std::floor((sweep.high() - s0) / spacing);
    if (!(last - first < kMaxLinesPerFamily)) return false;
    double patternLength = 0;
    for (double d : f.dashes) patternLength += std::fabs(d);
    std::vector<double> ts;
    for (double j = first; j <= last; ++j) {
      const double s = s0 + j * spacing, origin = t0 + j * shift;
      ts.clear();
      for (std::size_t i : sweep.at(s)) ts.push_back(sweep.piece(i).tAt(s));
      std::sort(ts.begin(), ts.end());
      for (std::size_t c = 0; c + 1 < ts.size(); c += 2) {
        const double a = ts[c], b = ts[c + 1];
        auto point = [&](double t) { return u * t + n * s; };
        if (f.dashes.empty() || !(patternLength > 0)) {
          out.push_back(lineEntity(point(a), point(b)));
        } else {
          if ((b - a) / patternLength > kMaxLinesPerFamily) return false;
          double cycle = origin + std::floor((a - origin) / patternLength) * patternLength;
          for (; cycle < b; cycle += patternLength) {
            double at = cycle;
            for (double d : f.dashes) {
              const double from = std::max(at, a), to = std::min(at + std::fabs(d), b);
              if (d > 0 && to > from) out.push_back(lineEntity(point(from), point(to)));
              if (d == 0 && at >= a && at <= b) {
                Entity dot = makeEntity(EntityKind::Point);
                get<PointEntity>(dot.data).location = plane::at(point(at));
                out.push_back(std::move(dot));
              }
              at += std::fabs(d);
            }
            if (out.size() >= kMaxPieces) return false;
          }
        }
        if (out.size() >= kMaxPieces) return false;
      }
    }
  }
  return true;
}

}  // namespace

std::vector<HatchSegment> hatchOutline(const Hatch& h) {
  Outline outline;
  bool anyExternal = false;
  for (const HatchPath& p : h.paths) anyExternal = anyExternal || (p.flags & (1 | 16)) != 0;
  std::vector<Vec> points;
  for (const HatchPath& p : h.paths) {
    if (!pathCounts(h, p, anyExternal)) continue;
    points.clear();
    if (p.flags & 2) {
      for (std::size_t i = 0; i < p.vertices.size(); ++i) {
        const HatchVertex& v = p.vertices[i];
        const HatchVertex& next = p.vertices[(i + 1) % p.vertices.size()];
        bulgePoints(points, of(v.location), of(next.location), v.bulge);
      }
    } else {
      for (const HatchEdge& e : p.edges) {
        switch (e.type) {
          case 1:
            points.push_back(of(e.start));
            points.push_back(of(e.end));
            break;
          case 2:
          case 3: arcEdgePoints(points, e); break;
          case 4: splineEdgePoints(points, e); break;
          default: break;
        }
      }
    }
    outline.loopFrom(points);
  }
  return std::move(outline.segments);
}

std::vector<Entity> hatchDrawing(const Hatch& h, Handle handle, std::vector<Finding>* findings) {
  const std::vector<HatchSegment> outline = hatchOutline(h);
  std::vector<Entity> out;
  Shortfall shortfall;
  if (h.solidFill == 0 && !patternFill(outline, h, out)) shortfall.patternTooFine = true;
  if (h.solidFill != 0 || shortfall.patternTooFine) out = solidFill(outline, shortfall);
  // Pieces that loops far out made overflow are left out.
  shortfall.overflowed = static_cast<std::size_t>(std::erase_if(out, [](const Entity& e) { return !finiteDrawing(e); }));
  if (findings == nullptr) return out;
  if (shortfall.patternTooFine)
    findings->push_back({"hatch-drawn-filled", handle, "pattern", true,
                         "the hatch pattern has more lines than a drawing can hold; the area is drawn filled"});
  std::string missing;
  auto add = [&](bool happened, const std::string& what) {
    if (!happened) return;
    if (!missing.empty()) missing += "; ";
    missing += what;
  };
  add(shortfall.piecesCapped, "it stops at " + std::to_string(kMaxPieces) + " entities");
  add(shortfall.slabWorkCapped, "its boundary crosses itself too often to fill it all");
  add(shortfall.crossingsCapped, "its boundary crosses itself more than " + std::to_string(kMaxCrossings) +
                                     " times; the fill is not split at the others");
  add(shortfall.overflowed > 0, std::to_string(shortfall.overflowed) + " pieces too far out to write are left out");
  if (!missing.empty()) findings->push_back({"hatch-drawn-in-part", handle, "boundary", false, "the drawing of the hatch is incomplete: " + missing});
  return out;
}

std::size_t replaceHatchesByBlocks(Database& db, std::vector<Finding>* findings) {
  std::int64_t next = 1;
  for (const BlockRecord& b : db.blocks) {
    if (b.name.size() < 3 || b.name[0] != '*' || (b.name[1] != 'X' && b.name[1] != 'x')) continue;
    std::int64_t n = 0;
    const auto [ptr, ec] = std::from_chars(b.name.data() + 2, b.name.data() + b.name.size(), n);
    if (ec == std::errc() && ptr == b.name.data() + b.name.size() && n >= next) next = n + 1;
  }
  std::size_t replaced = 0;
  const std::size_t count = db.entities.size();
  for (EntityId id = 0; id < count; ++id) {
    const auto* h = get_if<Hatch>(&db.entities[id].data);
    if (h == nullptr) continue;
    std::vector<Entity> pieces = hatchDrawing(*h, db.entities[id].common.handle, findings);
    const Point3 insertion{0, 0, h->elevation.z};
    const Point3 extrusion = h->extrusion;
    const std::string name = "*X" + std::to_string(next++);
    db.addBlock(name).flags = 1;
    const std::size_t block = db.blocks.size() - 1;
    for (Entity& piece : pieces) {
      piece.common.colour = 0;  // the colour of the insert
      db.addEntity(db.blocks[block], std::move(piece));
    }
    Entity& e = db.entities[id];
    e.kind = EntityKind::Insert;
    e.setDxfName("INSERT");
    if (e.common.extrasIfAny() != nullptr) e.common.extras().extra.clear();  // groups of the hatch
    Insert ins;
    ins.block = name;
    ins.insertion = insertion;
    ins.extrusion = extrusion;
    e.data = std::move(ins);
    ++replaced;
  }
  return replaced;
}

}  // namespace drawingdb
