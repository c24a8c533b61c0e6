#include <tvx/planning/CwdnTVXShrinker.h>
#include <tvx/planning/CwdnTVXBody.h>

#include <tvx/scene/CtvxCollisionList.h>
#include <tvx/scene/CtvxObject.h>

#include <wdn/CwdnConfig.h>
#include <wdn/CwdnConfigExtractor.h>
#include <wdn/CwdnDevice.h>
#include <wdn/CwdnDirectPath.h>
#include <wdn/CwdnJoint.h>
#include <wdn/CwdnPath.h>
#include <wdn/CwdnPathOptimizer.h>
#include <wdn/CwdnRoadmap.h>
#include <wdn/CwdnRoadmapBuilder.h>
#include <wdn/CwdnSteeringMethod.h>

#include <qar/CqarLogManager.h>

#include <cmath>
#include <vector>

CwdnTVXShrinker::CwdnTVXShrinker() = default;
CwdnTVXShrinker::~CwdnTVXShrinker() = default;

boost::shared_ptr<CwdnTVXShrinker> CwdnTVXShrinker::create()
{
    boost::shared_ptr<CwdnTVXShrinker> s(new CwdnTVXShrinker(), &CwdnTVXShrinker::destroy);
    s->m_shrinkerWkPtr = s;
    return s;
}

void CwdnTVXShrinker::willStartBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                                        boost::shared_ptr<CwdnPath>& path)
{
    if (m_previousDelegate != nullptr) {
        m_previousDelegate->willStartBuilding(builder, path);
    }
}

void CwdnTVXShrinker::didFinishBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                                        boost::shared_ptr<CwdnPath>& path, int result)
{
    if (m_previousDelegate != nullptr) {
        m_previousDelegate->didFinishBuilding(builder, path, result);
    }
}

bool CwdnTVXShrinker::shouldStopBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder)
{
    if (shrinksOnDifficulty() && m_difficultyTreshold > 0.0 && builder &&
        builder->difficulty() >= m_difficultyTreshold) {
        m_isTooDifficult = true;
        return true;
    }
    return m_previousDelegate != nullptr ? m_previousDelegate->shouldStopBuilding(builder) : false;
}

bool CwdnTVXShrinker::shouldExploreTowards(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                                           CwdnConfig const& config)
{
    return m_previousDelegate != nullptr ? m_previousDelegate->shouldExploreTowards(builder, config) : true;
}

void CwdnTVXShrinker::didAddNode(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                                 boost::shared_ptr<CwdnNode const> const& node)
{
    if (m_previousDelegate != nullptr) {
        m_previousDelegate->didAddNode(builder, node);
    }
}

void CwdnTVXShrinker::didAddEdge(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                                 boost::shared_ptr<CwdnEdge const> const& edge)
{
    if (m_previousDelegate != nullptr) {
        m_previousDelegate->didAddEdge(builder, edge);
    }
}

int CwdnTVXShrinker::shrinkBody(boost::shared_ptr<CwdnTVXBody> const& body, double factor)
{
    body->updateAbsolutePosition();
    boost::shared_ptr<CwdnJoint> const joint = body->joint();
    if (!joint) {
        // Without a joint there is no centre to scale about.
        return -1;
    }
    CqarMat4 const& at = joint->currentPosition();
    // The centre goes through single precision, as the stored geometry does.
    CqarPoint3 centre(static_cast<double>(static_cast<float>(at(0, 3))),
                      static_cast<double>(static_cast<float>(at(1, 3))),
                      static_cast<double>(static_cast<float>(at(2, 3))));
    boost::shared_ptr<CtvxCollisionList> const inner = body->innerObjects();
    int r = 0;
    if (inner) {
        unsigned int const n = inner->countObjects();
        for (unsigned int i = 0; i < n && r == 0; ++i) {
            boost::shared_ptr<CtvxObject> const o = inner->object(i);
            r = o ? o->scale(centre, factor) : -1;
        }
    }
    return r;
}

int CwdnTVXShrinker::shrinkDevice(boost::shared_ptr<CwdnDevice> const& device, double factor)
{
    // A factor of 0 (or worse) flattens the geometry beyond recovery: the
    // restoring step would divide by the scale reached.
    if (!(factor > 0.0) || !std::isfinite(factor)) {
        return -1;
    }
    std::vector<boost::shared_ptr<CwdnBody>> bodies;
    device->getBodyVector(bodies);
    int result = 0;
    for (std::size_t i = 0; i < bodies.size() && result == 0; ++i) {
        boost::shared_ptr<CwdnTVXBody> const body = boost::dynamic_pointer_cast<CwdnTVXBody>(bodies[i]);
        if (body) {
            result = shrinkBody(body, factor);
        } else {
            CqarLogManager::addError("CwdnTVXShrinker can only be used with TVX.");
            result = -1;
        }
    }
    return result;
}

int CwdnTVXShrinker::solveProblem(CwdnConfig const& start, CwdnConfig const& goal, boost::shared_ptr<CwdnPath>& path)
{
    if (!m_builder || !path || (m_optimizesBeforeUnshrinking && !m_pathOptimizer)) {
        return -1;
    }
    boost::shared_ptr<CwdnDevice> const device = path->device();
    if (!device) {
        return -1;
    }
    boost::shared_ptr<CwdnSteeringMethod> const steering = device->steeringMethod();

    CwdnConfig s(start);
    CwdnConfig g(goal);
    boost::shared_ptr<CwdnPath> const startPath = CwdnPath::create(device);
    // The goal side is extracted outwards from the given goal but travelled
    // inwards, so its motions are kept and reversed when the path is joined.
    std::vector<boost::shared_ptr<CwdnDirectPath>> goalMotions;

    m_currentStep = 0;
    m_currentScale = 1.0;
    m_previousDelegate = m_builder->delegate();
    if (m_previousDelegate == this) {
        // Forwarding to ourselves would never return.
        m_previousDelegate = nullptr;
    }
    m_builder->delegate(this);

    int result = -1;
    for (;;) {
        if (m_currentStep >= m_maxSteps) {
            break;
        }
        bool shrink = false;
        bool done = false;
        if ((m_mode == SHRINK_FIRST || m_mode == SHRINK_ONCE) && m_currentStep == 0) {
            shrink = true;
        } else {
            bool sCollides = true;
            bool gCollides = true;
            s.isColliding(sCollides);
            g.isColliding(gCollides);
            if (m_configExtractor) {
                bool skip = false;
                if (sCollides) {
                    CwdnConfig const given = s;
                    if (m_configExtractor->extractFreeConfig(s) == 0) {
                        startPath->appendDirectPath(steering->makeDirectPath(given, s));
                        sCollides = false;
                    } else {
                        skip = true;
                    }
                }
                if (!skip && gCollides) {
                    CwdnConfig const given = g;
                    if (m_configExtractor->extractFreeConfig(g) == 0) {
                        goalMotions.push_back(steering->makeDirectPath(given, g));
                        gCollides = false;
                    }
                }
            }
            if (sCollides || gCollides) {
                result = -1;
                if (m_mode == NO_SHRINKING || m_mode == SHRINK_ONCE) {
                    done = true;
                } else {
                    shrink = true;
                }
            } else {
                m_isTooDifficult = false;
                result = m_builder->solveProblem(s, g, path);
                if (result == 0 || m_mode == NO_SHRINKING || m_mode == SHRINK_ONCE) {
                    done = true;
                } else if (shrinksOnDifficulty()) {
                    shrink = m_isTooDifficult;
                    done = !m_isTooDifficult;
                } else {
                    shrink = true;
                }
            }
        }
        if (shrink) {
            int const r = shrinkDevice(device, m_scale);
            if (r == 0) {
                m_currentScale = m_scale * m_currentScale;
            } else {
                CqarLogManager::addError("Unable to shrink the geometry of the device.");
                result = r;
                done = true;
            }
        }
        ++m_currentStep;
        if (done) {
            break;
        }
    }

    if (m_currentScale < 1.0) {
        if (result == 0 && m_optimizesBeforeUnshrinking) {
            (void)m_pathOptimizer->optimizePath(path);
        }
        int const u = shrinkDevice(device, 1.0 / m_currentScale);
        if (u == -1) {
            CqarLogManager::addError("Unable to unshrink the geometry of the device.");
        }
        if (result == 0) {
            result = u;
        }
        m_builder->roadmap()->clear();
        m_builder->resetStartNodes();
        m_builder->resetGoalNodes();
    }

    if (result == 0) {
        boost::shared_ptr<CwdnPath> const endPath = CwdnPath::create(device);
        int r = 0;
        for (auto it = goalMotions.rbegin(); it != goalMotions.rend() && r == 0; ++it) {
            r = endPath->appendDirectPath(steering->makeDirectPath((*it)->end(), (*it)->start()));
        }
        if (r == 0) {
            r = startPath->appendPath(path);
        }
        if (r == 0) {
            r = startPath->appendPath(endPath);
        }
        if (r == 0) {
            path = startPath;
        } else {
            result = r;
        }
    }

    m_builder->delegate(m_previousDelegate);
    return result;
}
