#!/usr/bin/env bash
# Formatting gate: every C++ file of the repository (tracked, and new files
# not yet added that git does not ignore) must equal its form after
# clang-format with the project's .clang-format, and no line may run past
# 120 columns (clang-format cannot break every line: long string literals,
# include lines, comments without spaces).
#
#   bash .ci/format.sh          check; lists every file that differs, exits 1
#   bash .ci/format.sh --fix    rewrite the files in place, then check again
#
# The version is pinned: another clang-format version formats some
# constructs differently. It is Debian's clang-format-14; run as root, the
# script installs it when it is missing. Costs a few seconds.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly CLANG_FORMAT=clang-format-14
readonly MAX_COLUMNS=120

fix=0
case "${1:-}" in
  "") ;;
  --fix) fix=1 ;;
  -h | --help)
    sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  *)
    echo "format.sh: unknown option '$1' (use --fix or --help)" >&2
    exit 2
    ;;
esac

if ! command -v "$CLANG_FORMAT" >/dev/null 2>&1; then
  if [[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null 2>&1; then
    echo "== installing $CLANG_FORMAT"
    export DEBIAN_FRONTEND=noninteractive
    bash .ci/apt-update.sh
    apt-get install -y -qq --no-install-recommends "$CLANG_FORMAT" >/dev/null
  else
    echo "format.sh: $CLANG_FORMAT is not installed (apt-get install $CLANG_FORMAT)" >&2
    exit 2
  fi
fi
version="$("$CLANG_FORMAT" --version)"
if [[ "$version" != *"version 14."* ]]; then
  echo "format.sh: $CLANG_FORMAT reports '$version', expected version 14" >&2
  exit 2
fi

mapfile -t files < <(git ls-files --cached --others --exclude-standard -- \
  '*.cpp' '*.cc' '*.cxx' '*.c' '*.h' '*.hh' '*.hpp' '*.inl' | sort -u)
if ((${#files[@]} == 0)); then
  echo "format.sh: no C++ files found (run inside the repository)" >&2
  exit 2
fi
# A file deleted in the work tree but still tracked is not ours to check.
present=()
for f in "${files[@]}"; do
  [[ -f "$f" ]] && present+=("$f")
done

if ((fix)); then
  "$CLANG_FORMAT" -i --style=file "${present[@]}"
fi

unformatted=()
for f in "${present[@]}"; do
  if ! "$CLANG_FORMAT" --style=file "$f" | cmp -s - "$f"; then
    unformatted+=("$f")
  fi
done
# Columns are characters, not bytes (texts may hold UTF-8).
long_lines="$(LC_ALL=C.UTF-8 grep -HnE "^.{$((MAX_COLUMNS + 1)),}" "${present[@]}" | cut -c1-160 || true)"

status=0
if ((${#unformatted[@]})); then
  status=1
  echo "format.sh: ${#unformatted[@]} file(s) differ from their clang-format form:" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  echo "  fix with: bash .ci/format.sh --fix" >&2
fi
if [[ -n "$long_lines" ]]; then
  status=1
  echo "format.sh: lines longer than $MAX_COLUMNS columns (break them by hand):" >&2
  printf '%s\n' "$long_lines" | sed 's/^/  /' >&2
fi
if ((status == 0)); then
  echo "format.sh: ${#present[@]} C++ files formatted, no line over $MAX_COLUMNS columns"
fi
exit "$status"
