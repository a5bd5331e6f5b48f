#!/usr/bin/env bash
# Compiler launcher for a compiler without -fexec-charset=CP1250 (clang):
#   cp1250-launch.sh TOOL MIRROR ROOT COMPILER ARGS...
# A source of ROOT with non-ASCII bytes is compiled from a copy in MIRROR whose
# narrow literals TOOL (cp1250lit) has rewritten as Windows-1250 escapes; the
# copy is searched for quote includes from the original folder. When a project
# header holds such a literal (seen in the dependency file), the unit is
# compiled again with converted copies of those headers found first. The
# dependency file names the originals, so edits to them rebuild the unit.
set -euo pipefail
tool=$1 mirror=$2 root=$3
shift 3
args=("$@")
src_i=-1 dep=""
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[$i]}" in
    -c) src_i=$((i + 1)) ;;
    -MF) dep=${args[$((i + 1))]} ;;
  esac
done
[ "$src_i" -ge 0 ] && [ "$src_i" -lt ${#args[@]} ] || exec "$@"
src=${args[$src_i]}
case "$src" in /*) ;; *) src=$PWD/$src ;; esac

# convert FILE: writes FILE's converted copy to the mirror and prints its path.
convert() {
  local f=$1 out="$mirror/${1#"$root"/}" tmp
  mkdir -p "$(dirname "$out")"
  tmp=$(mktemp "$out.XXXXXX")
  "$tool" "$f" "$tmp" "$f" || { rm -f "$tmp"; return 1; }
  mv -f "$tmp" "$out"
  echo "$out"
}

# compile EXTRA-FLAGS...: the command with the source replaced by its copy
# when it has non-ASCII bytes, and EXTRA-FLAGS before -c.
compile() {
  local a=("${args[@]}") copy
  if [ "${force_copy:-0}" = 1 ] || LC_ALL=C grep -q $'[\x80-\xff]' "$src"; then
    copy=$(convert "$src")
    a[$src_i]=$copy
    set -- "$@" -iquote "$(dirname "$src")"
  fi
  "${a[@]:0:src_i-1}" "$@" "${a[@]:src_i-1}"
}

# Dependency file paths of the mirror become the originals' paths (a compiler
# cache may have written them relative to the build folder).
fix_dep() {
  [ -n "$dep" ] && [ -f "$dep" ] || return 0
  local rm rr
  rm=$(realpath -m --relative-to="$PWD" "$mirror")
  rr=$(realpath -m --relative-to="$PWD" "$root")
  sed -i -E "s#$mirror/#$root/#g; s#(^|[ :])$rm/#\\1$rr/#g" "$dep"
}

case "$src" in
  "$root"/*) ;;
  *) exec "$@" ;;
esac
compile
if LC_ALL=C grep -q $'[\x80-\xff]' "$src"; then fix_dep; fi
[ -n "$dep" ] && [ -f "$dep" ] || exit 0

# Project headers the unit read (relative paths are the compiler cache's,
# from the build folder) that hold non-ASCII narrow literals.
mapfile -t heads < <(tr -s ' \\\n\t' '\n' < "$dep" | grep -E '\.(h|hpp|inc)$' |
  grep -E "^([^/]|$root/)" | sort -u)
[ ${#heads[@]} -gt 0 ] || exit 0
mapfile -t nonascii < <(LC_ALL=C grep -l $'[\x80-\xff]' "${heads[@]}" 2>/dev/null |
  xargs -r realpath -m | grep "^$root/" | grep -v "^$mirror/" || true)
conv=()
for h in "${nonascii[@]}"; do
  if "$tool" --check "$h"; then conv+=("$h"); else [ $? = 1 ] || exit 1; fi
done
[ ${#conv[@]} -gt 0 ] || exit 0

extra=()
for h in "${conv[@]}"; do
  convert "$h" >/dev/null
  extra+=(-iquote "$(dirname "$h")")
done
# Converted headers first: a mirror folder for each project include folder.
pre=()
for a in "${args[@]}"; do
  case "$a" in
    -I"$root"/*) pre+=(-iquote "$mirror/${a#-I"$root"/}") ;;
  esac
done
force_copy=1 compile "${pre[@]}" "${extra[@]}"
fix_dep
