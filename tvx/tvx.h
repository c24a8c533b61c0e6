#pragma once

// The whole public interface of libtvx.

#include <tvx/tvxExport.h>

#include <qar/CqarLogManager.h>
#include <qar/CqarMat4.h>
#include <qar/CqarQuatF.h>
#include <qar/CqarVect3.h>

#include <tvx/math/CtvxMat4.h>
#include <tvx/math/CtvxPoint.h>
#include <tvx/math/CtvxTriangle.h>

#include <tvx/geometry/CtvxPolyhedronData.h>

#include <tvx/progress/CtvxProgressDelegate.h>

#include <tvx/scene/CtvxObjectOBB.h>
#include <tvx/scene/CtvxObject.h>
#include <tvx/scene/CtvxGeometry.h>
#include <tvx/scene/CtvxAssembly.h>
#include <tvx/scene/CtvxPolyhedronGroup.h>
#include <tvx/scene/CtvxCollisionList.h>

#include <tvx/geometry/CtvxPoly.h>
#include <tvx/geometry/CtvxVirtualPolyhedron.h>
#include <tvx/geometry/CtvxPolyhedron.h>

#include <tvx/bvtree/CtvxBoundingVolume.h>
#include <tvx/bvtree/CtvxBoundingVolumesTree.h>
#include <tvx/bvtree/CtvxOBB.h>
#include <tvx/bvtree/CtvxPolyhedronBVTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTree.h>
#include <tvx/bvtree/CtvxPolyhedronOBBTreeFactory.h>
#include <tvx/bvtree/CtvxTreeFactory.h>
#include <tvx/bvtree/CtvxTreeValidator.h>
#include <tvx/bvtree/CtvxTrianglesBoundingVolume.h>

#include <tvx/analysis/CtvxAnalysis.h>
#include <tvx/analysis/CtvxCollision.h>
#include <tvx/analysis/CtvxDistance.h>
#include <tvx/analysis/CtvxGeometryPoint.h>
#include <tvx/analysis/CtvxGeometrySubElement.h>
#include <tvx/analysis/CtvxPolyhedronPolyhedronTypedAnalysis.h>
#include <tvx/analysis/CtvxPolyhedronTriangle.h>
#include <tvx/analysis/CtvxTypedAnalysis.h>

#include <tvx/planning/CwdnTVXBody.h>
#include <tvx/planning/CwdnTVXShrinker.h>
