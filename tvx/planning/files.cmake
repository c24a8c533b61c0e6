# Sources of this subsystem, relative to this folder, and the headers that
# are installed (everything else here is internal).
set(TVX_SUB_SOURCES CwdnTVXBody.cpp CwdnTVXShrinker.cpp)
set(TVX_SUB_HEADERS CwdnTVXBody.h CwdnTVXShrinker.h)
