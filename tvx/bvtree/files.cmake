# Sources of this subsystem, relative to this folder, and the headers that
# are installed (everything else here is internal).
set(TVX_SUB_SOURCES
  CtvxHalf.cpp
  CtvxBoundingVolume.cpp
  CtvxTrianglesBoundingVolume.cpp
  CtvxOBB.cpp
  CtvxBoundingVolumesTree.cpp
  CtvxPolyhedronBVTree.cpp
  CtvxPolyhedronOBBTree.cpp
  CtvxTreeFactory.cpp
  CtvxPolyhedronOBBTreeFactory.cpp
  CtvxTreeValidator.cpp)
set(TVX_SUB_HEADERS
  CtvxBoundingVolume.h
  CtvxTrianglesBoundingVolume.h
  CtvxOBB.h
  CtvxBoundingVolumesTree.h
  CtvxPolyhedronBVTree.h
  CtvxPolyhedronOBBTree.h
  CtvxTreeFactory.h
  CtvxPolyhedronOBBTreeFactory.h
  CtvxTreeValidator.h)
