#pragma once

// The texts that `--view` pages are made of, compiled into the tool by
// cmake/TvxEmbedView.cmake: the page template and script of this folder, and
// the drawing library that scripts/fetch-three.sh unpacks (absent when it
// was not fetched before the build). Each text is a list of pieces ending in
// a null pointer, so that no single string literal passes the 64 KiB that
// compilers must accept.

namespace tvxcli {

struct ViewAssets {
    char const* const* pageHtml;
    char const* const* pageScript;
    // Null when the drawing library was not there at build time.
    char const* const* threeModule;
    char const* const* orbitControls;
    char const* const* threeLicence;
    char const* threeVersion;
};

ViewAssets const& viewAssets();

} // namespace tvxcli
