// The in-order walk: depth first, first child first, each pair tested when
// it is reached, with boxes decoded once and kept by rank.
#include <tvx/analysis/internal/CtvxInOrderSteps.h>

void CtvxPairWalks::inOrder(CtvxPairContext& pair, CtvxVisit how)
{
    if (pair.smallTrees())
        CtvxPairWalks::inOrderSmall(pair, how);
    else if (how == CtvxVisit::Overlap)
        CtvxInOrderSteps::walk<CtvxVisit::Overlap, false, false>(pair);
    else
        CtvxInOrderSteps::walk<CtvxVisit::Query, false, false>(pair);
}
