#include <wdn/CwdnRdmBuilderDelegate.h>

CwdnRdmBuilderDelegate::CwdnRdmBuilderDelegate() = default;
CwdnRdmBuilderDelegate::~CwdnRdmBuilderDelegate() = default;

void CwdnRdmBuilderDelegate::willStartBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const&,
                                               boost::shared_ptr<CwdnPath>&)
{
}

void CwdnRdmBuilderDelegate::didFinishBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const&,
                                               boost::shared_ptr<CwdnPath>&, int)
{
}

bool CwdnRdmBuilderDelegate::shouldStopBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const&)
{
    return false;
}

bool CwdnRdmBuilderDelegate::shouldExploreTowards(boost::shared_ptr<CwdnRoadmapBuilder const> const&,
                                                  CwdnConfig const&)
{
    return true;
}

void CwdnRdmBuilderDelegate::didAddNode(boost::shared_ptr<CwdnRoadmapBuilder const> const&,
                                        boost::shared_ptr<CwdnNode const> const&)
{
}

void CwdnRdmBuilderDelegate::didAddEdge(boost::shared_ptr<CwdnRoadmapBuilder const> const&,
                                        boost::shared_ptr<CwdnEdge const> const&)
{
}
