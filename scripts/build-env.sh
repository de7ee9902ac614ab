# Sourced by the build scripts. Compiles through ccache when the machine has it: the cache lives
# outside the checkout (~/.cache/ccache), and paths are taken relative to the checkout, so a fresh
# clone in another folder reuses what an earlier build compiled.
snipjar_launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher="env;CCACHE_BASEDIR=$PWD;CCACHE_NOHASHDIR=true;CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime;ccache"
  snipjar_launcher=(-DCMAKE_C_COMPILER_LAUNCHER="$launcher" -DCMAKE_CXX_COMPILER_LAUNCHER="$launcher")
fi
