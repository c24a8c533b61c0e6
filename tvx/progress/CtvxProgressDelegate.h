#pragma once

#include <tvx/tvxExport.h>

#include <boost/shared_ptr.hpp>

class CtvxObject;

// The observer of long-running work: the building of OBB trees.
//
// A host derives from this class and hands a shared pointer to it to the
// operations that make objects collision entities. The library only calls
// it, synchronously and in the caller's thread, and never reads anything
// back, so a delegate watches a build but cannot stop it. An empty shared
// pointer means "nobody to tell"; every call site tests it first.
class TVX_API CtvxProgressDelegate {
public:
    CtvxProgressDelegate(CtvxProgressDelegate const&) = default;
    CtvxProgressDelegate& operator=(CtvxProgressDelegate const&) = default;
    virtual ~CtvxProgressDelegate();

    // An object has become a collision entity; triangleCount is the number
    // of triangles its tree covers.
    virtual void didMakeCollisionEntity(boost::shared_ptr<CtvxObject> const& object,
                                        unsigned int triangleCount) = 0;
    // A tree node and both its subtrees are complete. The value is the
    // position, in the builder's permutation of triangle ranks, of the first
    // triangle under the node; nodes come in post-order, so it is not
    // monotone.
    virtual void didBuildNode(unsigned int firstTrianglePosition) = 0;
    // A regrouped assembly's group is about to be rebuilt.
    virtual void willBuildTree(unsigned int triangleCount) = 0;
    // Directly after willBuildTree; the value is always 0.
    virtual void resetProgress(unsigned int value) = 0;

protected:
    CtvxProgressDelegate() = default;
};

// The delegate the library uses when activation rebuilds a regrouped
// assembly's group. Empty at load; the host may set it, the library never
// does.
extern TVX_API boost::shared_ptr<CtvxProgressDelegate> s_defaultDelegate;

// Always empty: passed wherever the library rebuilds a tree on its own
// initiative, so that such rebuilds notify nobody.
extern TVX_API boost::shared_ptr<CtvxProgressDelegate> s_defaultNullDelegate;
