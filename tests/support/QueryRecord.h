#pragma once

#include <boost/shared_ptr.hpp>

#include <string>
#include <utility>
#include <vector>

class CtvxAnalysis;
class CtvxObject;
class CtvxPoly;

namespace tvxtest {

// A double as its value and its bits, so that two runs compare to the bit.
std::string bits(double v);

// The two objects a collision or distance result names (empty when gone).
template <class Result>
std::pair<boost::shared_ptr<CtvxObject>, boost::shared_ptr<CtvxObject>> objectsOf(Result const& result)
{
    std::pair<boost::shared_ptr<CtvxObject>, boost::shared_ptr<CtvxObject>> o;
    result.getObject1(o.first);
    result.getObject2(o.second);
    return o;
}

// Everything a query leaves behind, as text: the collision results (objects,
// triangle pairs), the distance results (objects, clearance, closest points),
// the last-closest hints of the triangle sets, the objects left unexamined
// for want of a tree and the prioritary child of every assembly. Objects and the polyhedra of triangle records are named by
// their rank in `objects`, floats by their bits, so that two copies of a
// scene queried two ways compare with one string comparison, and a mismatch
// prints what differs.
struct QueryRecord {
    std::vector<CtvxObject const*> objects;
    std::vector<CtvxPoly const*> hinted;

    std::string describe(CtvxAnalysis const& analysis) const;
    std::string nameOf(CtvxObject const* o) const;
};

} // namespace tvxtest
