# Sourced by the build scripts once $top is set. Where ccache is installed
# (the test packages bring it), every compiler CMake sets up for a new build
# folder goes through it, the cross-compilers and the test helpers' own
# builds included: a clean clone then builds in about a minute instead of
# eight. Paths are hashed relative to the repository, so clones in other
# folders share the cache.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="$top" CCACHE_NOHASHDIR=true
fi
