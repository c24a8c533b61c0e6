#pragma once

#include <cstdint>

// The answer of a batch at one pose, as plain values that outlive the
// batch's scenes.
//
// A batch fills one record per pose, in pose order. clearance and the
// closest points are NaN where the query gives none: in contact, for the
// contact types, and for the estimated distance (a lower bound without
// points). pairCount sums the triangle pairs in contact over every pair of
// parts (one pair at most for the first contact and for a distance query
// that meets a contact).
struct CtvxBatchResult {
    enum EStatus : std::int32_t {
        NOT_RUN = 0,  // the batch stopped (cancelled or failed) before this pose
        ANSWERED = 1, // the query ran and gave its answer
        NO_ANSWER = 2, // a distance query found no distance (bodies beyond the initial bound)
        // The query ran but could not examine every part: a part's mesh got
        // no OBB tree (its build was refused, see CtvxAnalysis::isComplete).
        // A contact it reports is real; no contact, and a clearance, may not
        // be, so clearance and the closest points are NaN.
        INCOMPLETE = 3
    };

    std::int32_t status = NOT_RUN;
    bool contact = false;
    bool exact = false; // clearance is the exact clearance, closest points set
    std::uint32_t pairCount = 0;
    double clearance = 0.0;
    double closestA[3] = {0.0, 0.0, 0.0}; // in the world
    double closestB[3] = {0.0, 0.0, 0.0};
};
