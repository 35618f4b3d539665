// The strongly connected components of a directed graph given as lists of
// successors: nodes that reach each other share a component.  Used to find
// blocks that insert themselves, directly or through other blocks.  The
// search is iterative, so a long chain of nodes does not exhaust the stack.
#pragma once

#include <vector>

// component[v] for every node v of `edges` (successor lists, node numbers
// 0..edges.size()-1); a node on no cycle has a component of its own.
std::vector<int> stronglyConnectedComponents(const std::vector<std::vector<int>>& edges);

