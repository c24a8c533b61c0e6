# Sources of this subsystem, relative to this folder, and the headers that
# are installed. Headers under internal/ are never installed.
set(TVX_SUB_SOURCES CtvxProximityKernels.cpp internal/CtvxExactPredicates.cpp
  CtvxGeometrySubElement.cpp CtvxPolyhedronTriangle.cpp CtvxGeometryPoint.cpp
  CtvxCollision.cpp CtvxDistance.cpp
  CtvxTypedAnalysis.cpp CtvxPolyhedronPolyhedronTypedAnalysis.cpp CtvxAnalysis.cpp
  CtvxPairContext.cpp CtvxInOrderWalk.cpp CtvxNearestFirstWalk.cpp CtvxPlainWalk.cpp)
set(TVX_SUB_HEADERS
  CtvxGeometrySubElement.h CtvxPolyhedronTriangle.h CtvxGeometryPoint.h
  CtvxCollision.h CtvxDistance.h
  CtvxTypedAnalysis.h CtvxPolyhedronPolyhedronTypedAnalysis.h CtvxAnalysis.h)
