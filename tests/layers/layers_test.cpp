// The layering of the folders: a folder includes headers only of the folders
// its library links, links only folders it includes, and neither the links
// nor the includes run in a cycle.  The links come from the build
// (folder_links.txt in the build directory: per line a folder, then the
// folders its library links), the includes from the sources.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Graph = std::map<std::string, std::set<std::string>>;

// The folder of a project include, `#include "folder/file.h"`; "" for any
// other line.
std::string includedFolder(const std::string& line) {
  std::size_t i = line.find_first_not_of(" \t");
  if (i == std::string::npos || line[i] != '#') return "";
  i = line.find_first_not_of(" \t", i + 1);
  if (i == std::string::npos || line.compare(i, 7, "include") != 0) return "";
  i = line.find_first_not_of(" \t", i + 7);
  if (i == std::string::npos || line[i] != '"') return "";
  const std::size_t slash = line.find('/', i + 1);
  const std::size_t quote = line.find('"', i + 1);
  if (slash == std::string::npos || quote < slash) return "";
  return line.substr(i + 1, slash - i - 1);
}

// A cycle of the graph as its folders with the first repeated at the end;
// empty when there is none.  Depth first with its own stack.
std::vector<std::string> findCycle(const Graph& graph) {
  enum class Mark { kNew, kOnPath, kDone };
  std::map<std::string, Mark> marks;
  for (const auto& [start, unused] : graph) {
    if (marks[start] != Mark::kNew) continue;
    // The path from start: each folder with the next of its edges to walk.
    std::vector<std::pair<std::string, std::set<std::string>::const_iterator>> path;
    const std::set<std::string> none;
    auto edgesOf = [&](const std::string& f) -> const std::set<std::string>& {
      const auto at = graph.find(f);
      return at == graph.end() ? none : at->second;
    };
    path.emplace_back(start, edgesOf(start).begin());
    marks[start] = Mark::kOnPath;
    while (!path.empty()) {
      auto& [folder, next] = path.back();
      if (next == edgesOf(folder).end()) {
        marks[folder] = Mark::kDone;
        path.pop_back();
        continue;
      }
      const std::string to = *next++;
      if (marks[to] == Mark::kOnPath) {
        std::vector<std::string> cycle;
        std::size_t k = 0;
        while (path[k].first != to) ++k;
        for (; k < path.size(); ++k) cycle.push_back(path[k].first);
        cycle.push_back(to);
        return cycle;
      }
      if (marks[to] == Mark::kNew) {
        marks[to] = Mark::kOnPath;
        path.emplace_back(to, edgesOf(to).begin());
      }
    }
  }
  return {};
}

std::string shown(const std::vector<std::string>& cycle) {
  std::string text;
  for (const std::string& f : cycle) text += (text.empty() ? "" : " -> ") + f;
  return text;
}

Graph declaredLinks() {
  Graph links;
  std::ifstream in(std::string(TROVAK_BINARY_DIR) + "/folder_links.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string folder, link;
    if (!(words >> folder)) continue;
    auto& to = links[folder];
    while (words >> link) to.insert(link);
  }
  return links;
}

// The includes between the folders of `links`: for each pair (from, to) the
// first place that makes it, "file:line".
std::map<std::pair<std::string, std::string>, std::string> folderIncludes(const Graph& links) {
  std::map<std::pair<std::string, std::string>, std::string> includes;
  for (const auto& [folder, unused] : links) {
    const fs::path dir = fs::path(TROVAK_SOURCE_DIR) / folder;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      const std::string ext = entry.path().extension().string();
      if (ext != ".h" && ext != ".cpp") continue;
      std::ifstream in(entry.path());
      std::string line;
      for (int number = 1; std::getline(in, line); ++number) {
        const std::string to = includedFolder(line);
        if (to.empty() || to == folder || links.count(to) == 0) continue;
        includes.emplace(std::make_pair(folder, to),
                         fs::relative(entry.path(), TROVAK_SOURCE_DIR).string() + ":" + std::to_string(number));
      }
    }
  }
  return includes;
}

TEST(FolderLayers, IncludeLinesNameTheirFolder) {
  const std::pair<const char*, const char*> cases[] = {
      {"#include \"support/trace.h\"", "support"},
      {"  #  include \"elements/element_table.h\"  // the table", "elements"},
      {"#include\t\"a/b/c.h\"", "a"},
      {"#include <vector>", ""},
      {"#include \"local.h\"", ""},
      {"// #include \"driver/dispatcher.h\"", ""},
      {"#define include \"driver/x.h\"", ""},
      {"#include \"x.h\" /* not/this */", ""},
      {"", ""},
  };
  for (const auto& [line, folder] : cases) EXPECT_EQ(includedFolder(line), folder) << line;
}

TEST(FolderLayers, CycleFinderFindsEveryCycleAndNoOther) {
  struct Case {
    const char* name;
    Graph graph;
    bool cycle;
  };
  const Case cases[] = {
      {"empty", {}, false},
      {"chain", {{"a", {"b"}}, {"b", {"c"}}}, false},
      {"diamond", {{"a", {"b", "c"}}, {"b", {"d"}}, {"c", {"d"}}}, false},
      {"self", {{"a", {"a"}}}, true},
      {"pair", {{"a", {"b"}}, {"b", {"a"}}}, true},
      {"long, behind a diamond", {{"a", {"b", "c"}}, {"b", {"d"}}, {"c", {"d"}}, {"d", {"e"}}, {"e", {"f"}}, {"f", {"d"}}},
       true},
      {"edge to a folder without links", {{"a", {"z"}}, {"b", {"a"}}}, false},
  };
  for (const Case& c : cases) {
    const std::vector<std::string> cycle = findCycle(c.graph);
    EXPECT_EQ(!cycle.empty(), c.cycle) << c.name << ": " << shown(cycle);
    if (cycle.empty()) continue;
    EXPECT_EQ(cycle.front(), cycle.back()) << c.name;
    for (std::size_t i = 0; i + 1 < cycle.size(); ++i)
      EXPECT_EQ(c.graph.at(cycle[i]).count(cycle[i + 1]), 1u) << c.name << ": " << shown(cycle);
  }
}

TEST(FolderLayers, LinksAndIncludesAgreeAndRunOneWay) {
  const Graph links = declaredLinks();
  ASSERT_GE(links.size(), 2u) << "folder_links.txt is missing in " << TROVAK_BINARY_DIR;
  EXPECT_EQ(shown(findCycle(links)), "") << "the links run in a cycle";

  Graph included;
  for (const auto& [edge, where] : folderIncludes(links)) {
    included[edge.first].insert(edge.second);
    EXPECT_EQ(links.at(edge.first).count(edge.second), 1u)
        << where << ": " << edge.first << " includes " << edge.second << " but does not link it";
  }
  for (const auto& [folder, to] : links) {
    for (const std::string& link : to)
      EXPECT_EQ(included[folder].count(link), 1u) << folder << " links " << link << " but includes none of it";
  }
  EXPECT_EQ(shown(findCycle(included)), "") << "the includes run in a cycle";
}

}  // namespace
