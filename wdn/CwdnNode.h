#pragma once

#include <wdn/wdnExport.h>
#include <wdn/CwdnConfig.h>

// A node of a roadmap: a collision-free configuration and its rank in the
// roadmap (ranks start at 0 and are reused after the roadmap is cleared).
class WDN_API CwdnNode {
public:
    CwdnNode(unsigned int id, CwdnConfig const& config) : m_id(id), m_config(config) {}
    virtual ~CwdnNode();

    unsigned int id() const { return m_id; }
    CwdnConfig const& config() const { return m_config; }

private:
    unsigned int m_id;
    CwdnConfig m_config;
};
