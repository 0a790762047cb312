#!/bin/sh
# Builds pascal_frame_parser.dll for 32-bit Windows with Free Pascal (3.0 or later, with the
# i386-win32 units). Settings from the environment:
#   FPC       the compiler command (default: fpc; ppc386 works too)
#   FPCFLAGS  further options, for example -Fu<folder of the win32 run-time units>
#   KIV_SDK   the folder holding kiv.pas (default: ../../include/pascal beside this folder)
#   OUTDIR    where the DLL and the compiled units go (default: ./build)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
sdk=${KIV_SDK:-$here/../../include/pascal}
out=${OUTDIR:-$here/build}
mkdir -p "$out"
# shellcheck disable=SC2086  # FPCFLAGS holds several options
"${FPC:-fpc}" -Twin32 -Pi386 -O2 ${FPCFLAGS:-} -Fu"$sdk" -Fu"$here" -FU"$out" -FE"$out" \
  "$here/pascal_frame_parser.dpr"
