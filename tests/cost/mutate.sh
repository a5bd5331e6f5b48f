#!/usr/bin/env bash
# Shows which prices the cost check guards: for each price, a copy of the
# source tree with that price cut to a quarter, cost_xpointer built from it and
# run. A mutation is caught when a case that passes on the tree as it is (by
# more than the counts' noise) fails. The check holds each case's sum of
# prices, so a cut survives where the price is a small share of every case
# that pays it (HASH_OCTET and NUMBER_FORMAT do); the canonicaliser's charges
# (xmlc14transform.cpp) are not among the rows, nor measured by the check.
# Run by hand, not in CI (a full check per surviving mutation):
#   tests/cost/mutate.sh [LABEL...]      the rows whose label holds one of these; all by default
# The rows: every price constant (`[inline] const double NAME = ...;` with a capital
# name in the bound's units, found by pattern, so a split of the units keeps
# them), and the prices written as expressions, each found by the function
# that holds it. Each run first checks the families made for single prices and
# the search (a failure there is a failure of the whole check); a mutation they
# do not catch runs the whole check.
# MUTATE_DIR (default build-mutate) holds the copy, its build and the tables.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=${MUTATE_DIR:-$root/build-mutate}
tree=$work/tree
units=src/xmlsig
price_files=${PRICE_FILES:-"xmlbound*.h xmlbound*.cpp xmlxpointer*.cpp xmlxpointer*.h xmlxpath*.cpp xmlxpath*.h"}
focused=${MUTATE_FOCUSED:-"down a chain|attribute names|in name tests|lang() |literals|numbers in|mixed sets|search over|one-octet|operations on|generated"}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work}

mkdir -p "$work/tables"
rm -rf "$tree" && mkdir -p "$tree"
(cd "$root" && tar -c --exclude='./build*' --exclude=./.git .) | tar -x -C "$tree"
# Every unit a row may cut rebuilt from the copy (a build left by an earlier
# run may hold a cut object newer than its source).
find "$tree/$units" -type f -exec touch {} +
rm -rf "$work/pristine" && cp -a "$tree/$units" "$work/pristine"
cmake -G Ninja -S "$tree" -B "$work/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=gcc \
  -DCMAKE_CXX_COMPILER=g++ -DTAL_WERROR=ON -DTAL_BENCH=OFF -DTAL_CT_VALGRIND=ON >/dev/null

# Prices written as expressions: label | function holding it | sed substitution within its body.
expression_rows() {
  cat <<'EOF'
name-test octets|nameTestCost|s/return ([^;]+);/return (\1) \/ 4;/
namespace URI octets of a prefixed test|uriTestCost|s/return ([^;]+);/return (\1) \/ 4;/
a sort's comparison|comparison|s/return ([^;]+);/return (\1) \/ 4;/
the filter search's prefix octets|samePrefix|s/octets \+= ([^;]+);/octets += (\1) \/ 4;/
the filter search's charge|namespacesInScope|s/return work;/return work \/ 4;/
the statistics walk's charge|xmlXPointerDocumentStats|s/charge\((.*)\);/charge((\1) \/ 4);/
EOF
}
constant_rows() {
  (cd "$tree/$units" && grep -ohE '^\s*(inline\s+|static\s+)?(constexpr|const)\s+double\s+[A-Z][A-Z0-9_]*\s*=' $price_files 2>/dev/null) |
    sed -E 's/.*double\s+([A-Z0-9_]+).*/\1/' | sort -u | grep -vE 'CAP|CEILING|LIMIT' |
    while read -r c; do
      printf '%s|%s|%s\n' "$c" "=$c" "s/^(\\s*(inline\\s+|static\\s+)?(constexpr|const)\\s+double\\s+$c\\s*=\\s*)([^;]+);/\\1(\\4) \\/ 4;/"
    done
}

# The line range of the body of the function defined in the file, or nothing.
body_of() {
  awk -v f="$2" '
    !start && $0 ~ ("^[[:space:]]*[A-Za-z_][A-Za-z0-9_:<>*&, ]*[[:space:]*&]" f "\\(") && $0 !~ /;[[:space:]]*$/ { start = NR }
    start { n = gsub(/{/, "{"); m = gsub(/}/, "}"); depth += n - m; if (n) opened = 1
            if (opened && depth <= 0) { print start "," NR; exit } }' "$1"
}

# Applies a row to the copy; prints the file changed, or nothing.
apply() {
  local where=$1 sub=$2 f range files
  if [[ $where == =* ]]; then files=$(cd "$tree/$units" && ls $price_files 2>/dev/null); else files=$(cd "$tree/$units" && ls *.cpp); fi
  for f in $files; do
    f=$tree/$units/$f
    if [[ $where == =* ]]; then
      grep -qE "double\s+${where#=}\s*=" "$f" || continue
      sed -E -i "$sub" "$f"
    else
      range=$(body_of "$f" "$where")
      [ -n "$range" ] || continue
      sed -E -i "${range}${sub}" "$f"
    fi
    cmp -s "$f" "$work/pristine/$(basename "$f")" || { echo "${f#$tree/}"; return; }
  done
}

# Runs the check and writes the table; prints its cases as "family|kind expression<TAB>verdict<TAB>ratio".
check() {
  local table=$1; shift
  (cd "$work/build" && tests/cost/cost_xpointer --table "$table" "$@" >/dev/null 2>&1) || true
  cases_of "$table"
}
cases_of() {
  awk '/^== worst/ { exit } /^== / { fam = substr($0, 4) } /^(xptr|filter|search|stats) / {
         print fam "|" substr($0, 1, 73) "\t" ($0 ~ / FAIL / ? "FAIL" : "ok") "\t" $(NF - 1) }' "$1"
}
# Cases that pass in the baseline, outside the counts' noise (8%) below the
# limit, and fail in the mutant, raised by the cut by a quarter at least (the
# statistics' rows vary by some 10% between runs): a case at the limit would
# fail for any cut, or none.
caught_by() {
  join -t $'\t' <(sort "$1") <(sort "$2") |
    awk -F'\t' '$2 == "ok" && $3 + 0 <= 14.5 && $4 == "FAIL" && $5 + 0 > 1.25 * $3 { print $1 }'
}
closest() {  # the mutant's highest ratio among those cases that the cut raised (by more than the noise)
  join -t $'\t' <(sort "$1") <(sort "$2") |
    awk -F'\t' '$2 == "ok" && $3 + 0 <= 14.5 && $5 + 0 > 1.25 * $3 && $5 + 0 > best { best = $5 + 0; c = $1 }
    END { printf "highest ratio %.1f: %s\n", best, substr(c, 1, 110) }'
}

build() { cmake --build "$work/build" --target cost_xpointer >"$work/build.log" 2>&1; }

# Puts back what a row changed, as a new file (an old time would keep the cut object).
restore() {
  local f
  for f in "$work/pristine"/*; do cmp -s "$f" "$tree/$units/${f##*/}" || cp "$f" "$tree/$units/"; done
}
trap restore EXIT

restore
build || { echo "mutate.sh: the unmutated tree does not build ($work/build.log)" >&2; exit 2; }
check "$work/tables/base-focused.txt" --only "$focused" >"$work/base-focused"
check "$work/tables/base.txt" >"$work/base"
echo "baseline: $(grep -c FAIL "$work/base" || true) cases fail before any mutation (table $work/tables/base.txt)"

printf '%-44s %-34s %-8s %s\n' "price cut to a quarter" "file" "verdict" "caught by (first)"
{ constant_rows; expression_rows; } | while IFS='|' read -r label where sub; do
  if [ $# -gt 0 ]; then
    keep=0
    for l in "$@"; do [[ $label == *"$l"* ]] && keep=1; done
    [ $keep = 1 ] || continue
  fi
  restore
  file=$(apply "$where" "$sub")
  if [ -z "$file" ]; then
    printf '%-44s %-34s %-8s\n' "$label" "-" "NOT FOUND"
    continue
  fi
  if ! build; then
    printf '%-44s %-34s %-8s %s\n' "$label" "$file" "NO BUILD" "$work/build.log"
    continue
  fi
  safe=${label//[^A-Za-z0-9]/_}
  hits=$(caught_by "$work/base-focused" <(check "$work/tables/$safe-focused.txt" --only "$focused"))
  if [ -z "$hits" ]; then
    hits=$(caught_by "$work/base" <(check "$work/tables/$safe.txt"))
  fi
  if [ -n "$hits" ]; then
    printf '%-44s %-34s %-8s %s (%s cases)\n' "$label" "$file" "caught" "$(head -1 <<<"$hits" | cut -c1-120)" \
      "$(wc -l <<<"$hits")"
  else
    printf '%-44s %-34s %-8s %s\n' "$label" "$file" "SURVIVES" \
      "$(closest "$work/base" <(cases_of "$work/tables/$safe.txt"))"
  fi
done
