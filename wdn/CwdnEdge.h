#pragma once

#include <wdn/wdnExport.h>

#include <boost/shared_ptr.hpp>

class CwdnNode;

// An edge of a roadmap: two nodes joined by a direct path that was checked
// collision-free, and its length in the device's metric.
class WDN_API CwdnEdge {
public:
    CwdnEdge(boost::shared_ptr<CwdnNode const> const& n1, boost::shared_ptr<CwdnNode const> const& n2, double length)
        : m_node1(n1), m_node2(n2), m_length(length)
    {
    }
    virtual ~CwdnEdge();

    boost::shared_ptr<CwdnNode const> const& node1() const { return m_node1; }
    boost::shared_ptr<CwdnNode const> const& node2() const { return m_node2; }
    double length() const { return m_length; }

private:
    boost::shared_ptr<CwdnNode const> m_node1;
    boost::shared_ptr<CwdnNode const> m_node2;
    double m_length;
};
