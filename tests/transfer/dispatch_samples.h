// CAD transfer files written by the tests of the output direction, and a
// small reader of the IGES files the output writes, shared by the loop
// tests (transfer/), the program runs (cli/) and the checks against other
// programs' readers (interop/).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace samples {

// Builds a CAD transfer file section by section.  Version 0 files have the
// short layouts; version 1 files carry the attribute text and a token
// before the status of every element.
class TransferFile {
 public:
  explicit TransferFile(int version = 1, std::vector<double> layerValues = {10, 20, 30});

  // Any text, as it stands (comment lines, unknown sections).
  TransferFile& raw(const std::string& text);

  TransferFile& point(const std::string& id, double x, double y, bool deleted = false);
  TransferFile& line(const std::string& id, double x1, double y1, double x2, double y2,
                     double layer = 10, bool deleted = false, int style = 1, double width = 0.5);
  TransferFile& circle(const std::string& id, double cx, double cy, double r, double layer = 10);
  // A counter-clockwise arc from (sx, sy) to (ex, ey).
  TransferFile& arc(const std::string& id, double cx, double cy, double r, double sx, double sy,
                    double ex, double ey, double layer = 10);
  // Angles in degrees; start = end = 0 and full for a whole ellipse.
  TransferFile& ellipse(const std::string& id, double cx, double cy, double a, double b,
                        double axisDegrees, double startDegrees, double endDegrees,
                        double layer = 10);
  // A cubic non-periodic B-spline with equal weights through its control
  // points (clamped knots).
  TransferFile& spline(const std::string& id, const std::vector<std::pair<double, double>>& points);
  TransferFile& hatch(const std::string& id, const std::vector<std::pair<double, double>>& points,
                      double layer = 10);
  TransferFile& text(const std::string& id, double x, double y, double height, const std::string& text,
                     double layer = 10, bool deleted = false);
  TransferFile& group(const std::string& id, const std::string& name,
                      const std::vector<std::string>& members);
  TransferFile& contour(const std::string& id, const std::vector<std::string>& members, double layer = 10);
  TransferFile& planePart(const std::string& id, const std::vector<std::string>& members,
                          double layer = 10);
  // "dimension_distance", "dimension_diameter", "dimension_radius",
  // "dimension_angular" with their definition points.
  TransferFile& dimension(const std::string& id, const std::string& keyword,
                          const std::vector<std::pair<double, double>>& points, double value,
                          const std::string& text, double layer = 10);
  TransferFile& userdef(const std::string& id, const std::string& name,
                        const std::vector<std::string>& members);
  TransferFile& userref(const std::string& id, const std::string& definition, double x, double y,
                        double layer = 10);
  TransferFile& layer(const std::string& id, const std::string& name);

  std::string str() const { return head() + body_; }

 private:
  std::string head() const;
  void addHead(const std::string& keyword, const std::string& id, bool deleted,
               const std::string& headerRest = "");
  void value(const std::string& text);
  void value(double number);
  void values(std::initializer_list<double> numbers);

  int version_;
  std::vector<double> layers_;
  double extents_[4] = {-100, -100, 100, 100};
  std::string body_;
};

// One file holding every element kind (24 elements, identifiers 1 to 24),
// and the entities a level PLUS run writes for it.
TransferFile everyKind(int version);
std::map<int, int> everyKindCounts();
// A small drawing: two lines, a circle, a text and a group of the lines.
TransferFile smallDrawing();

// One entity of an IGES file: its directory entry and its parameter data.
struct IgesEntity {
  int sequence = 0;  // of the first directory line
  int type = 0;
  int form = 0;
  int paramPointer = 0;
  int paramLines = 0;
  int lineFont = 0;
  int level = 0;
  int matrix = 0;
  int lineWeight = 0;
  int colour = 0;
  std::string status;
  std::string label;
  int subscript = 0;
  std::vector<std::string> params;  // the parameter tokens, type first
  double real(std::size_t i) const;  // params[i] as a number (D exponent read)
  int integer(std::size_t i) const;
};

struct IgesView {
  std::vector<IgesEntity> entities;  // in directory order
  std::map<int, int> bySequence;     // directory sequence -> entities index
  std::string global;                // the global section's data
  std::vector<std::string> errors;   // format faults found while reading
  std::map<int, int> countByType() const;
  const IgesEntity* at(int sequence) const;
  std::vector<const IgesEntity*> ofType(int type) const;
};

// Reads an IGES file's text: 80-column lines, directory pairs, parameter
// records split into tokens (strings kept whole).
IgesView readIges(const std::string& text);

std::string readFile(const std::string& path);

}  // namespace samples
