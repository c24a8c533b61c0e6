# Sources of this subsystem, relative to this folder, and the headers that
# are installed. What lies under internal/ is the library's own: never
# installed.
set(TVX_SUB_SOURCES internal/CtvxProximityKernels.cpp internal/CtvxTriangleDistance.cpp
  internal/CtvxTriangleDistanceCheck.cpp internal/CtvxExactPredicates.cpp
  CtvxGeometrySubElement.cpp CtvxPolyhedronTriangle.cpp CtvxGeometryPoint.cpp
  CtvxCollision.cpp CtvxDistance.cpp
  CtvxTypedAnalysis.cpp CtvxPolyhedronPolyhedronTypedAnalysis.cpp CtvxAnalysis.cpp
  internal/CtvxPairContext.cpp internal/CtvxInOrderWalk.cpp internal/CtvxLastReachedWalk.cpp internal/CtvxSmallTreeWalks.cpp internal/CtvxSmallTreeLastReached.cpp internal/CtvxNearestFirstWalk.cpp
  internal/CtvxPlainWalk.cpp internal/CtvxKeptFront.cpp internal/CtvxBoxTree.cpp internal/CtvxBroadPhase.cpp)
set(TVX_SUB_HEADERS
  CtvxGeometrySubElement.h CtvxPolyhedronTriangle.h CtvxGeometryPoint.h
  CtvxCollision.h CtvxDistance.h
  CtvxTypedAnalysis.h CtvxPolyhedronPolyhedronTypedAnalysis.h CtvxAnalysis.h)
