#include <tvx/planning/CwdnTVXBody.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/scene/CtvxCollisionList.h>
#include <tvx/scene/CtvxObject.h>
#include <tvx/scene/internal/CtvxInputChecks.h>

#include <algorithm>

namespace {

CqarMat4 const s_identity;

} // namespace

CwdnTVXBody::CwdnTVXBody() = default;

CwdnTVXBody::~CwdnTVXBody() = default;

boost::shared_ptr<CwdnTVXBody> CwdnTVXBody::create()
{
    boost::shared_ptr<CwdnTVXBody> body(new CwdnTVXBody());
    if (body->init(body) != 0) {
        return boost::shared_ptr<CwdnTVXBody>();
    }
    return body;
}

int CwdnTVXBody::init(boost::weak_ptr<CwdnTVXBody> const& self)
{
    m_analysis = CtvxAnalysis::create();
    m_analysis->setAnalysisType(CtvxAnalysis::ESTIMATED_DISTANCE);
    // Two empty lists, so that the body can be asked before it has any
    // geometry.
    m_analysis->setCollisionList1(CtvxCollisionList::create());
    m_analysis->setCollisionList2(CtvxCollisionList::create());
    return CwdnBody::init(boost::weak_ptr<CwdnBody>(self.lock()));
}

void CwdnTVXBody::setInnerObjects(boost::shared_ptr<CtvxCollisionList> const& list,
                                  std::vector<CqarMat4> const& relativePositions)
{
    m_innerObjects = CtvxCollisionList::create(list);
    m_analysis->setCollisionList1(m_innerObjects);
    m_innerRelativePositions = relativePositions;
}

void CwdnTVXBody::setInnerObjects(boost::shared_ptr<CtvxCollisionList> const& list)
{
    setInnerObjects(list, std::vector<CqarMat4>(list ? list->countObjects() : 0u));
}

void CwdnTVXBody::setOuterObjects(boost::shared_ptr<CtvxCollisionList> const& list)
{
    m_outerObjects = CtvxCollisionList::create(list);
    m_analysis->setCollisionList2(m_outerObjects);
}

CqarMat4 const& CwdnTVXBody::relativePositionOf(unsigned int i) const
{
    return i < m_innerRelativePositions.size() ? m_innerRelativePositions[i] : s_identity;
}

void CwdnTVXBody::placeBody(CqarMat4 const& m)
{
    if (!m_innerObjects) {
        return;
    }
    m_placementRefused = false;
    unsigned int const n = m_innerObjects->countObjects();
    for (unsigned int i = 0; i < n; ++i) {
        boost::shared_ptr<CtvxObject> const o = m_innerObjects->object(i);
        if (o) {
            // A locked object refuses and stays where it is; so does one
            // given a placement that is not rigid, and then the body's
            // answers would be about another place.
            CqarMat4 const p = m * relativePositionOf(i);
            if (CtvxInputChecks::placementFault(p))
                m_placementRefused = true;
            (void)o->absolutePosition(p);
        }
    }
}

bool CwdnTVXBody::computeEstimatedDistance()
{
    m_analysis->compute();
    // A pair the analysis could not examine (it logged why) may hide a
    // contact.
    if (m_placementRefused || m_analysis->countCollisions() != 0 || !m_analysis->isComplete()) {
        return false;
    }
    if (m_analysis->countDistances() == 0) {
        estimatedDistance(0.0);
    } else {
        boost::shared_ptr<CtvxDistance> d;
        m_analysis->getDistance(0, d);
        estimatedDistance(static_cast<double>(d->distance()));
    }
    return true;
}

double CwdnTVXBody::getBoundingSphereRadius(CqarPoint3 const& center) const
{
    double r = 0.0;
    if (!m_innerObjects) {
        return r;
    }
    static double const signs[8][3] = {{1, 1, 1},  {1, 1, -1},  {1, -1, 1},  {1, -1, -1},
                                       {-1, 1, 1}, {-1, 1, -1}, {-1, -1, 1}, {-1, -1, -1}};
    unsigned int const n = m_innerObjects->countObjects();
    for (unsigned int i = 0; i < n; ++i) {
        boost::shared_ptr<CtvxObject> const o = m_innerObjects->object(i);
        if (!o) {
            continue;
        }
        CqarMat4 box;
        if (o->getObbRelativePosition(box) == -1) {
            continue;
        }
        // Where the body's own placement puts the box, not where the object
        // happens to be now.
        CqarMat4 const w = absolutePosition() * relativePositionOf(i) * box;
        float hx = 0.0f, hy = 0.0f, hz = 0.0f;
        if (o->getObbHalfLengths(hx, hy, hz) == -1) {
            continue;
        }
        for (auto const& s : signs) {
            CqarPoint3 const corner = w * CqarPoint3(s[0] * hx, s[1] * hy, s[2] * hz);
            r = std::max(r, center.distanceFrom(corner));
        }
    }
    return r;
}
