# Sources of this subsystem, relative to this folder, and the headers that
# are installed (everything else here is internal).
set(TVX_SUB_SOURCES CtvxMat4.cpp CtvxPoint.cpp CtvxTriangle.cpp)
set(TVX_SUB_HEADERS CtvxMat4.h CtvxPoint.h CtvxTriangle.h)
