#include "talvo/core/graph.hpp"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "expect_panic.hpp"

namespace talvo {
namespace {

std::vector<EdgeIndex> edges(std::span<const EdgeIndex> list) {
  return {list.begin(), list.end()};
}

TEST(StableGraph, RemovalKeepsTheOtherIndicesAndFreedOnesAreGivenAgain) {
  StableGraph<char, int> graph;
  const NodeIndex a = graph.add_node('a');
  const NodeIndex b = graph.add_node('b');
  const NodeIndex c = graph.add_node('c');
  graph.add_edge(a, b, 0);
  graph.add_edge(b, c, 1);
  const EdgeIndex ac = graph.add_edge(a, c, 2);

  EXPECT_EQ(graph.remove_node(b), 'b');
  EXPECT_EQ(graph.remove_node(b), std::nullopt);
  EXPECT_PANIC((void)graph.node(b), "node index 1 is not in the graph");
  EXPECT_EQ(graph.node(c), 'c');
  EXPECT_EQ(graph.edge(ac), 2);
  EXPECT_EQ(edges(graph.outgoing(a)), std::vector{ac});
  EXPECT_EQ(edges(graph.incoming(c)), std::vector{ac});

  const NodeIndex d = graph.add_node('d');
  const EdgeIndex da = graph.add_edge(d, a, 3);
  const EdgeIndex cd = graph.add_edge(c, d, 4);
  EXPECT_EQ(d, b);
  EXPECT_EQ((std::set{da, cd}), (std::set<EdgeIndex>{0, 1}));
  EXPECT_EQ(graph.node_bound(), 3u);
  EXPECT_EQ(graph.node(d), 'd');
  EXPECT_EQ(edges(graph.outgoing(d)), std::vector{da});  // nothing left from the removed node
  EXPECT_EQ(edges(graph.incoming(d)), std::vector{cd});
  EXPECT_EQ(graph.edge(da), 3);
}

}  // namespace
}  // namespace talvo
