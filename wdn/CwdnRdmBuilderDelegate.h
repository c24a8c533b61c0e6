#pragma once

#include <wdn/wdnExport.h>

#include <boost/shared_ptr.hpp>

class CwdnConfig;
class CwdnEdge;
class CwdnNode;
class CwdnPath;
class CwdnRoadmapBuilder;

// What a roadmap builder tells, and asks, while it builds.
//
// Install one with CwdnRoadmapBuilder::delegate(). Every call comes on the
// caller's thread from inside solveProblem(): willStartBuilding first,
// then, as the search goes, shouldStopBuilding once per iteration,
// shouldExploreTowards for each sampled configuration before it is checked
// (a refusal costs no collision check), didAddNode for each new node and
// didAddEdge for each new edge right after its node, and didFinishBuilding
// last with the result code. The default implementations do nothing, never
// stop and always explore.
class WDN_API CwdnRdmBuilderDelegate {
public:
    virtual ~CwdnRdmBuilderDelegate();

    virtual void willStartBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                                   boost::shared_ptr<CwdnPath>& path);
    virtual void didFinishBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                                   boost::shared_ptr<CwdnPath>& path, int result);
    virtual bool shouldStopBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder);
    virtual bool shouldExploreTowards(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                                      CwdnConfig const& config);
    virtual void didAddNode(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                            boost::shared_ptr<CwdnNode const> const& node);
    virtual void didAddEdge(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                            boost::shared_ptr<CwdnEdge const> const& edge);

protected:
    CwdnRdmBuilderDelegate();
    CwdnRdmBuilderDelegate(CwdnRdmBuilderDelegate const&) = default;
    CwdnRdmBuilderDelegate& operator=(CwdnRdmBuilderDelegate const&) = default;
};
