#include "support/graph_components.h"

#include <algorithm>
#include <cstddef>
#include <utility>

// Tarjan's search with an explicit stack of calls: each call is a node and
// the position of its next successor to visit.
std::vector<int> stronglyConnectedComponents(const std::vector<std::vector<int>>& edges) {
  const int n = static_cast<int>(edges.size());
  std::vector<int> component(static_cast<std::size_t>(n), -1), order(static_cast<std::size_t>(n), -1),
      low(static_cast<std::size_t>(n), 0);
  std::vector<char> onStack(static_cast<std::size_t>(n), 0);
  std::vector<int> stack;
  std::vector<std::pair<int, std::size_t>> calls;
  int counter = 0, components = 0;
  for (int root = 0; root < n; ++root) {
    if (order[static_cast<std::size_t>(root)] >= 0) continue;
    calls.emplace_back(root, 0);
    while (!calls.empty()) {
      auto& [v, next] = calls.back();
      const std::size_t sv = static_cast<std::size_t>(v);
      if (next == 0 && order[sv] < 0) {
        order[sv] = low[sv] = counter++;
        stack.push_back(v);
        onStack[sv] = 1;
      }
      if (next < edges[sv].size()) {
        const int w = edges[sv][next++];
        const std::size_t sw = static_cast<std::size_t>(w);
        if (order[sw] < 0) {
          calls.emplace_back(w, 0);
        } else if (onStack[sw]) {
          low[sv] = std::min(low[sv], order[sw]);
        }
        continue;
      }
      if (low[sv] == order[sv]) {
        for (;;) {
          const int w = stack.back();
          stack.pop_back();
          onStack[static_cast<std::size_t>(w)] = 0;
          component[static_cast<std::size_t>(w)] = components;
          if (w == v) break;
        }
        ++components;
      }
      const int done = v;
      calls.pop_back();
      if (!calls.empty()) {
        const std::size_t parent = static_cast<std::size_t>(calls.back().first);
        low[parent] = std::min(low[parent], low[static_cast<std::size_t>(done)]);
      }
    }
  }
  return component;
}

