#pragma once

#include <wdn/wdnExport.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

#include <vector>

class CwdnEdge;
class CwdnNode;
class CwdnRoadmapBuilder;

// The roadmap a builder has grown so far: its nodes and edges, in the order
// they were added (the same order in which the builder's delegate heard of
// them). Owned by its builder; clear() throws the whole roadmap away, which
// is needed whenever the geometry changed, since every edge was checked
// against the old geometry.
class WDN_API CwdnRoadmap {
public:
    CwdnRoadmap(CwdnRoadmap const&) = delete;
    CwdnRoadmap& operator=(CwdnRoadmap const&) = delete;
    virtual ~CwdnRoadmap();

    unsigned int countNodes() const { return static_cast<unsigned int>(m_nodes.size()); }
    unsigned int countEdges() const { return static_cast<unsigned int>(m_edges.size()); }
    boost::shared_ptr<CwdnNode const> node(unsigned int i) const { return m_nodes[i]; }
    boost::shared_ptr<CwdnEdge const> edge(unsigned int i) const { return m_edges[i]; }
    // Drops every node and edge, and the builder's start and goal nodes.
    void clear();

protected:
    CwdnRoadmap();

private:
    friend class CwdnRoadmapBuilder;
    std::vector<boost::shared_ptr<CwdnNode const>> m_nodes;
    std::vector<boost::shared_ptr<CwdnEdge const>> m_edges;
    boost::weak_ptr<CwdnRoadmapBuilder> m_builder;
};
