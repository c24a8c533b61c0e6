#pragma once

// Internal to the planning library: the OMPL space behind a device. Only the
// library's own sources include this header; it is not installed.

#include <ompl/base/SpaceInformation.h>
#include <ompl/base/StateSpace.h>

#include <boost/shared_ptr.hpp>

#include <vector>

class CwdnBody;
class CwdnDevice;

// The configuration space of one device as OMPL sees it: a compound state
// space with one subspace per joint, a validity checker that asks the
// device's bodies, and a motion validator that certifies straight motions
// with the bodies' clearances (see CwdnDevice). Built once per device, after
// its joints are added; the device owns it.
class CwdnSpace {
public:
    explicit CwdnSpace(CwdnDevice& device);
    ~CwdnSpace();
    CwdnSpace(CwdnSpace const&) = delete;
    CwdnSpace& operator=(CwdnSpace const&) = delete;

    ompl::base::SpaceInformationPtr const& si() const { return m_si; }
    unsigned int size() const { return m_size; }

    void toState(double const* values, ompl::base::State* state) const;
    void fromState(ompl::base::State const* state, double* values) const;
    void interpolate(double const* a, double const* b, double t, double* out) const;
    double distance(double const* a, double const* b) const;

    // Forgets cached clearances and bounding radii: to be called whenever
    // the geometry may have changed, that is at the start of every planning
    // operation (solve, extraction, optimisation).
    void beginQueries();

    // The checks themselves, on values (used by the OMPL checkers).
    bool isValid(double const* values);
    bool checkMotion(double const* a, double const* b);
    // Walks from a towards b; false and lastValid = the fraction reached
    // (the configuration there is free) when the motion is blocked.
    bool checkMotion(double const* a, double const* b, double& lastValid);

    unsigned long countMotionChecks() const { return m_motionChecks; }

private:
    // Valid flag and clearances at values, through a small cache of the last
    // configurations checked (a new roadmap node is the end of every motion
    // towards its neighbours).
    bool clearances(double const* values, double* out);
    // Per body, the bound of the travel of any of its points along the
    // straight motion a -> b.
    void travelBounds(double const* a, double const* b, double* out);
    bool certified(double const* travel, double const* c0, double const* c1, double fraction) const;
    bool bisect(double const* a, double const* b);
    void refreshRadii();

    CwdnDevice& m_device;
    unsigned int m_size = 0;
    unsigned int m_bodyCount = 0;
    ompl::base::StateSpacePtr m_space;
    ompl::base::SpaceInformationPtr m_si;
    mutable ompl::base::State* m_stateA = nullptr;
    mutable ompl::base::State* m_stateB = nullptr;
    mutable ompl::base::State* m_stateOut = nullptr;

    // Kinematic data for the travel bounds, per joint: its parent rank and
    // the bound of the distance between its origin and its parent's.
    std::vector<int> m_parent;
    std::vector<double> m_linkLength;
    // Per body: its joint rank and its bounding radius about that joint.
    std::vector<unsigned int> m_bodyJoint;
    std::vector<double> m_radius;
    bool m_radiiValid = false;

    // Scratch, sized once.
    std::vector<double> m_travel;
    std::vector<double> m_jointDelta;
    std::vector<double> m_mid;
    // Clearances of the configurations checked along one motion, body after
    // body, and the pieces of the motion still to certify.
    std::vector<double> m_pool;
    struct Piece {
        double t0;
        double t1;
        std::size_t c0;
        std::size_t c1;
        unsigned int depth;
    };
    std::vector<Piece> m_pieces;
    std::vector<double> m_c0;
    std::vector<double> m_c1;

    struct CacheEntry {
        std::vector<double> values;
        std::vector<double> clearances;
        bool valid = false;
        bool used = false;
    };
    std::vector<CacheEntry> m_cache;
    unsigned int m_cacheNext = 0;
    unsigned long m_motionChecks = 0;
};
