// The in-order walk backwards between two small trees (see
// CtvxSmallTreeWalks.cpp).
#include <tvx/analysis/internal/CtvxInOrderSteps.h>

void CtvxPairWalks::lastReachedSmall(CtvxPairContext& pair)
{
    CtvxInOrderSteps::walk<CtvxVisit::Query, true, true>(pair);
}
