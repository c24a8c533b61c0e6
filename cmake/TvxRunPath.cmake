# Run paths of installed binaries.
#
# Installed, every shared library, program and module of the project finds
# the project's libraries relative to its own location ($ORIGIN), so that a
# host linked against any install prefix, or a prefix moved elsewhere as a
# whole, starts without LD_LIBRARY_PATH and without the system's loader
# configuration. System libraries (Boost, OMPL, assimp) are not covered:
# they are found where the system keeps them.
#
#   tvx_install_run_path(<target> <install-dir>)
#
# <install-dir> is the folder the target is installed into, relative to the
# prefix (${CMAKE_INSTALL_LIBDIR}, ${CMAKE_INSTALL_BINDIR}, the folder of a
# Python module...) or absolute. The run path reaches
# ${CMAKE_INSTALL_LIBDIR} from there. Both being relative, the path between
# them does not depend on the prefix, which may change at install time
# (cmake --install --prefix).
#
# The loader writes DT_RUNPATH, which serves only the object that carries
# it, not the libraries it loads: this is why each installed library carries
# its own run path for its siblings (libtvx for libwdn and libqar, libwdn
# for libqar), rather than relying on the host's.
function(tvx_install_run_path target install_dir)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    # The libraries go to a fixed place whatever the prefix: name it.
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${CMAKE_INSTALL_LIBDIR}")
    return()
  endif()
  if(IS_ABSOLUTE "${install_dir}")
    # A fixed place for the target, the prefix's for the libraries: the path
    # between them holds for the prefix given at configure time only.
    file(RELATIVE_PATH rel "${install_dir}" "${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}")
  else()
    # Any root does: the path between two folders of one prefix.
    file(RELATIVE_PATH rel "/prefix/${install_dir}" "/prefix/${CMAKE_INSTALL_LIBDIR}")
  endif()
  string(REGEX REPLACE "/$" "" rel "${rel}")
  if(rel STREQUAL "")
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
  else()
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${rel}")
  endif()
endfunction()
