# Sources of this subsystem, relative to this folder, and the headers that
# are installed (everything else here is internal).
set(TVX_SUB_SOURCES CtvxObjectOBB.cpp CtvxInputChecks.cpp
  CtvxObject.cpp CtvxGeometry.cpp CtvxAssembly.cpp CtvxPolyhedronGroup.cpp CtvxCollisionList.cpp)
set(TVX_SUB_HEADERS CtvxObjectOBB.h
  CtvxObject.h CtvxGeometry.h CtvxAssembly.h CtvxPolyhedronGroup.h CtvxCollisionList.h)
