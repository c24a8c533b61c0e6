// The in-order walk between two small trees, whose boxes come decoded from
// the scratch's smallTrees: a unit of its own (and the walk backwards
// another, CtvxSmallTreeLastReached.cpp), so that the walks over larger
// trees are compiled as they were, and these with their visits inlined.
#include <tvx/analysis/internal/CtvxInOrderSteps.h>

void CtvxPairWalks::inOrderSmall(CtvxPairContext& pair, CtvxVisit how)
{
    if (how == CtvxVisit::Overlap)
        CtvxInOrderSteps::walk<CtvxVisit::Overlap, false, true>(pair);
    else
        CtvxInOrderSteps::walk<CtvxVisit::Query, false, true>(pair);
}
