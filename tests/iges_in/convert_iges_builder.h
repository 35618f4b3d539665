// Builds small fixed-format IGES files for the conversion tests.
#pragma once

#include <string>
#include <vector>

namespace igestest {

struct Entity {
  int type = 0;
  int form = 0;
  std::string params;    // parameter data after the type, with its ';'
  int matrix = 0;        // DE number of a 124, 0 for none
  std::string status = "00000000";
  int colour = 0;        // 0: field left empty
  int level = 0;
  int view = 0;
};

class Builder {
 public:
  // Adds an entity; returns its DE number (1, 3, 5, ...).
  int add(const Entity& e);
  int add(int type, const std::string& params, int form = 0) {
    Entity e;
    e.type = type;
    e.params = params;
    e.form = form;
    return add(e);
  }
  Entity& entity(int de) { return entities_[(de - 1) / 2]; }
  // The whole file, unitsFlag 2 (millimetre).
  std::string text() const;
  // Writes the file; returns its path.
  std::string write(const std::string& path) const;

 private:
  std::vector<Entity> entities_;
};

// A file with a line, a note, a linear and a radius dimension, a group of
// two lines and a subfigure named LIB/BOLT placed twice; `leadingArcs`
// arcs before them move every entity to other DE numbers.
Builder annotatedDrawing(int leadingArcs = 0);

}  // namespace igestest
