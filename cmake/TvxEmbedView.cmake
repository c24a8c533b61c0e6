# Writes the C++ source that holds the texts of `--view` pages
# (tools/tvx/view/ViewAssets.h), run in script mode at build time:
#   cmake -DOUT=file.cpp -DVIEW_DIR=tools/tvx/view -DTHREE_DIR=third_party/three -P TvxEmbedView.cmake
# The drawing library is embedded when THREE_DIR holds it, and left out
# otherwise (the tool then refuses --view with a message).

# Compilers need only accept string literals of 65536 characters; raw
# literals of 60000 keep clear of that with any encoding of the text.
set(piece 60000)
set(delim "tvxv")

function(embed name file out)
  file(READ "${file}" text)
  string(FIND "${text}" ")${delim}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds the raw-string delimiter )${delim}\"")
  endif()
  # The texts are put into <script> elements: nothing in them may end the
  # element or open an HTML comment inside it.
  if(NOT name STREQUAL "kPageHtml")
    string(TOLOWER "${text}" lower)
    string(FIND "${lower}" "</script" closes)
    string(FIND "${text}" "<!--" comment)
    if(NOT closes EQUAL -1 OR NOT comment EQUAL -1)
      message(FATAL_ERROR "${file} holds </script or <!--, which a script element cannot hold")
    endif()
  endif()
  string(LENGTH "${text}" length)
  set(code "char const* const ${name}[] = {\n")
  set(at 0)
  while(at LESS length)
    string(SUBSTRING "${text}" ${at} ${piece} part)
    string(APPEND code "R\"${delim}(${part})${delim}\",\n")
    math(EXPR at "${at} + ${piece}")
  endwhile()
  string(APPEND code "nullptr};\n")
  set(${out} "${${out}}${code}" PARENT_SCOPE)
endfunction()

set(body "")
embed(kPageHtml "${VIEW_DIR}/page.html" body)
embed(kPageScript "${VIEW_DIR}/page.js" body)
set(three "nullptr")
set(orbit "nullptr")
set(licence "nullptr")
set(version "")
if(EXISTS "${THREE_DIR}/three.module.min.js" AND EXISTS "${THREE_DIR}/OrbitControls.js"
   AND EXISTS "${THREE_DIR}/LICENSE" AND EXISTS "${THREE_DIR}/VERSION")
  embed(kThree "${THREE_DIR}/three.module.min.js" body)
  embed(kOrbit "${THREE_DIR}/OrbitControls.js" body)
  embed(kLicence "${THREE_DIR}/LICENSE" body)
  file(STRINGS "${THREE_DIR}/VERSION" version LIMIT_COUNT 1)
  set(three "kThree")
  set(orbit "kOrbit")
  set(licence "kLicence")
endif()

set(source "// Written by cmake/TvxEmbedView.cmake at build time.\n#include <tools/tvx/view/ViewAssets.h>\n\n")
string(APPEND source "namespace tvxcli {\nnamespace {\n${body}} // namespace\n\n")
string(APPEND source "ViewAssets const& viewAssets()\n{\n    static ViewAssets const assets = {kPageHtml, kPageScript, ${three}, ${orbit}, ${licence}, \"${version}\"};\n    return assets;\n}\n\n} // namespace tvxcli\n")
# Rewritten only when it changes, so that an unchanged page costs no compile.
file(WRITE "${OUT}.new" "${source}")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
