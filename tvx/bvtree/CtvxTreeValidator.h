#pragma once

#include <tvx/tvxExport.h>

#include <boost/shared_ptr.hpp>

#include <string>

class CtvxPoly;

// Checks a built OBB tree against the triangles it covers.
//
// Every box is decoded as the queries decode it (rotation from the
// normalised stored quaternion, centre and half lengths through the tree's
// scale) and every vertex of every triangle below it must lie inside, up to
// a float rounding bound: relativeTolerance() times the box's reach (the
// largest coordinate of its centre plus its largest half length), which is
// what a float kernel may lose when it maps a vertex into the box frame. The
// shape is checked too (n - 1 boxes, children ranked after their parent,
// each triangle coded exactly once), and so is the set's own box. For tests,
// tools and diagnostics; the cost is one pass over the triangles per tree
// level.
class TVX_API CtvxTreeValidator {
public:
    struct Report {
        int boxesChecked = 0;
        // Boxes with at least one vertex outside beyond the bound.
        int failures = 0;
        long long verticesChecked = 0;
        // Largest distance of a vertex outside its box, absolute and
        // relative to that box's reach; 0 when every vertex is inside.
        double worstExcess = 0.0;
        double worstRelativeExcess = 0.0;
        int worstBox = -1;
        // Codes out of range, triangles missing or coded twice, box count.
        int shapeErrors = 0;
        // The set's own box (made from the root) holds every triangle.
        bool polyObbContains = true;
        std::string verdict;
    };

    static boost::shared_ptr<CtvxTreeValidator> create();
    CtvxTreeValidator(CtvxTreeValidator const&) = delete;
    CtvxTreeValidator& operator=(CtvxTreeValidator const&) = delete;
    virtual ~CtvxTreeValidator();

    // 0 when the tree is sound, -1 otherwise (or when the poly has no OBB
    // tree); the report says why.
    int validate(boost::shared_ptr<CtvxPoly> const& poly, Report& report) const;

    // The float rounding bound, relative to a box's reach (2^-22).
    static double relativeTolerance();

protected:
    CtvxTreeValidator();
    void init(boost::shared_ptr<CtvxTreeValidator>& self);

private:
    void invariant() const {}
};
