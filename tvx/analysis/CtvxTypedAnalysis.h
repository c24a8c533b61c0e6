#pragma once

#include <tvx/tvxExport.h>
#include <tvx/analysis/CtvxAnalysis.h>

#include <boost/shared_ptr.hpp>

class CtvxCollision;
class CtvxDistance;

// The interface of a query between two pieces of geometry of given kinds.
//
// The analysis driver makes one for every pair of triangle sets it reaches
// and calls compute() once; the concrete class (CtvxPolyhedronPolyhedron-
// TypedAnalysis for two triangle sets) fills the collision and distance
// results it is given and reports whether it found a contact and whether it
// lowered the distance.
class TVX_API CtvxTypedAnalysis {
public:
    CtvxTypedAnalysis() = default;
    CtvxTypedAnalysis(CtvxTypedAnalysis const&) = default;
    CtvxTypedAnalysis& operator=(CtvxTypedAnalysis const&) = default;
    virtual ~CtvxTypedAnalysis();

    virtual void compute(CtvxAnalysis::EAnalysisType type, bool& collided,
                         boost::shared_ptr<CtvxCollision>& collision, bool& distanceFound,
                         boost::shared_ptr<CtvxDistance>& distance) = 0;
};
