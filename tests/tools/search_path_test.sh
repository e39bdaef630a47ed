#!/usr/bin/env bash
# Programs and modules of the build folder find their libraries beside
# themselves and in the system's places, never in the current directory: an
# empty entry in an ELF file's search path (RUNPATH) means "here" to the
# dynamic loader. Checked on every ELF file of the folder, then by starting
# quor from a folder holding an unloadable file under each library name it
# needs.
#   search_path_test.sh BIN_DIR
set -uo pipefail
bin=$(cd "$1" && pwd) || exit 1
status=0
checked=0
for f in "$bin"/*; do
  [[ -f $f && ! -L $f ]] || continue
  [[ $(head -c 4 "$f" | od -An -c | tr -d ' ') == 177ELF ]] || continue
  path=$(readelf -d "$f" | sed -n 's/.*Library r[un]*path: \[\(.*\)\]/\1/p')
  checked=$((checked + 1))
  [[ -z $path ]] && continue
  if [[ ":$path:" == *::* ]]; then
    echo "FAIL: $(basename "$f") searches the current directory (search path '$path')"
    status=1
  fi
done
((checked > 0)) || { echo "FAIL: no ELF files in $bin"; exit 1; }

here=$(mktemp -d)
trap 'rm -rf "$here"' EXIT
for lib in $(readelf -d "$bin/quor" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
  echo "not a library" >"$here/$lib"
done
if ! out=$(cd "$here" && "$bin/quor" help 2>&1 >/dev/null); then
  echo "FAIL: quor started from a folder with files named as its libraries: $out"
  status=1
fi
((status == 0)) && echo "search paths of $checked ELF files: none names the current directory"
exit $status
