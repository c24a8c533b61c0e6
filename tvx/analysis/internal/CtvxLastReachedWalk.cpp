// The in-order walk backwards, second child first, to the first triangle
// pair it reaches: the last the in-order walk tests.
#include <tvx/analysis/internal/CtvxInOrderSteps.h>

void CtvxPairWalks::lastReached(CtvxPairContext& pair)
{
    if (pair.smallTrees())
        CtvxPairWalks::lastReachedSmall(pair);
    else
        CtvxInOrderSteps::walk<CtvxVisit::Query, true, false>(pair);
}
