# Sources of this subsystem, relative to this folder, and the headers that
# are installed (everything else here is internal).
set(TVX_SUB_SOURCES CtvxPolyhedronData.cpp CtvxPoly.cpp
  CtvxVirtualPolyhedron.cpp CtvxPolyhedron.cpp internal/CtvxDirectMesh.cpp)
set(TVX_SUB_HEADERS CtvxPolyhedronData.h CtvxPoly.h
  CtvxVirtualPolyhedron.h CtvxPolyhedron.h)
