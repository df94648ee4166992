#!/usr/bin/env bash
# Applies each mutation of tests/mutations.tsv in turn, builds the tests of
# the row's labels, runs them, puts the file back, and rewrites
# tests/MUTATIONS.md with which test caught what. The labels are tried in
# order until one catches the mutation: the layer's own tests, then the
# end-to-end and stress tests. A mutation the suite used to catch and now
# misses is reported as a lost catch (exit status 1).
#
#   tests/mutations.sh [-b BUILD_DIR] [-t SECONDS] [-k] [ID...]
#
#   -b  build directory (default build-mutations), configured here with
#       ccache when it does not exist yet
#   -t  per-test timeout in seconds (default 60); a timeout counts as caught
#   -k  keep going past a failing unmutated run of a label (its rows are
#       then marked "baseline-failed" instead of being run)
#   ID  only these rows; the others keep their previous result
#
# Builds and tests run under nice -n 19: the machine is shared.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
table="$root/tests/mutations.tsv"
report="$root/tests/MUTATIONS.md"
build="$root/build-mutations"
timeout=60
keep_going=0

while getopts "b:t:kh" option; do
  case $option in
    b) build=$(realpath -m "$OPTARG") ;;
    t) timeout=$OPTARG ;;
    k) keep_going=1 ;;
    *) sed -n '2,/^# Builds/p' "$0" | sed 's/^# \{0,1\}//'; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
wanted=("$@")

log() { printf 'mutations: %s\n' "$*" >&2; }

# The file being mutated and its saved copy; the trap puts it back whatever
# ends the run.
mutated=""
saved=$(mktemp)
restore() {
  if [[ -n $mutated ]]; then
    cat "$saved" >"$mutated"
    # A fresh modification time makes the next build recompile the restored
    # file (ccache makes that cheap) instead of keeping the mutated object.
    touch "$mutated"
    mutated=""
  fi
}
cleanup() { restore; rm -f "$saved"; }
trap cleanup EXIT
trap 'log interrupted; exit 130' INT TERM

# Rows of the table: id, file, original, replacement, labels, description.
# An original or replacement spanning lines writes each line break as ⏎.
declare -a ids=()
declare -A file_of=() original_of=() replacement_of=() labels_of=() description_of=()
while IFS= read -r line; do
  [[ -z $line || $line == \#* ]] && continue
  IFS=$'\x1f' read -r id file original replacement labels description <<<"${line//$'\t'/$'\x1f'}"
  if [[ -z ${description:-} || -z $original ]]; then
    log "malformed row: $line"
    exit 2
  fi
  if [[ -n ${file_of[$id]+set} ]]; then
    log "duplicate id $id"
    exit 2
  fi
  ids+=("$id")
  file_of[$id]=$file
  original_of[$id]=${original//⏎/$'\n'}
  replacement_of[$id]=${replacement//⏎/$'\n'}
  labels_of[$id]=$labels
  description_of[$id]=$description
done <"$table"

if ((${#wanted[@]} == 0)); then
  wanted=("${ids[@]}")
fi
for id in "${wanted[@]}"; do
  if [[ -z ${file_of[$id]+set} ]]; then
    log "no row $id"
    exit 2
  fi
done

# Results of the previous run, read back from the report's table:
# | id | file:line | mutation | change | result | caught by |
declare -A old_result=() old_test=() old_where=()
if [[ -f $report ]]; then
  while IFS= read -r line; do
    [[ $line =~ ^\|\ (m[0-9]+)\ \| ]] || continue
    IFS=$'\x1f' read -r _ id where _ _ result test _ <<<"$(sed -e 's/\\|/\x1e/g' -e 's/ *| */\x1f/g' <<<"$line")"
    old_result[$id]=$result
    old_test[$id]=$(tr -d '`' <<<"$test")
    old_where[$id]=$where
  done <"$report"
fi

# The tests carry their own TIMEOUT property, which ctest's --timeout does
# not override; the build directory sets it instead.
if ! grep -qx "ISODMX_TEST_TIMEOUT:STRING=$timeout" "$build/CMakeCache.txt" 2>/dev/null; then
  log "configuring $build"
  nice -n 19 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DISODMX_TEST_TIMEOUT="$timeout" >/dev/null || exit 2
fi

# A label is a layer folder, or <layer>-slow for its slow tests: the target
# is <layer>_tests or <layer>_slow_tests, and the run takes exactly that
# label.
build_labels() {
  local targets=() label
  IFS=, read -ra list <<<"$1"
  for label in "${list[@]}"; do targets+=("${label/-slow/_slow}_tests"); done
  nice -n 19 cmake --build "$build" --target "${targets[@]}" >"$build/mutation-build.log" 2>&1
}

# Runs one label's tests; prints the first failing test's name (with why
# when it did not simply fail, "timeout" for a hang) and returns 1, or
# returns 0 when all passed.
run_label() {
  local output first status
  output=$(cd "$build" && nice -n 19 ctest -L "^$1\$" -j2 --stop-on-failure 2>&1)
  status=$?
  printf '%s\n' "$output" >"$build/mutation-test.log"
  if ((status == 0)) && grep -q '100% tests passed' <<<"$output"; then
    return 0
  fi
  first=$(sed -n '/The following tests FAILED:/{n;p;q}' <<<"$output")
  # "  12 - Suite.Case (Failed)" -> "Suite.Case"; "(Timeout)" -> "(timeout)".
  # A parameterised name is followed by "  # GetParam() = ...".
  if [[ $first =~ ^[[:space:]]*[0-9]+\ -\ ([^ ]+).*\(([^\(\)]*)\)$ ]]; then
    local name=${BASH_REMATCH[1]} why=${BASH_REMATCH[2],,}
    [[ $why != failed ]] && name+=" ($why)"
    printf '%s\n' "$name"
  else
    printf 'ctest exit %s\n' "$status"
  fi
  return 1
}

# The unmutated tree must pass, or every mutation would look caught.
declare -A baseline_ok=()
check_baseline() {
  local label failing
  IFS=, read -ra list <<<"$1"
  for label in "${list[@]}"; do
    [[ -n ${baseline_ok[$label]+set} ]] && continue
    log "unmutated run of $label"
    if ! build_labels "$label"; then
      log "the unmutated tree does not build; see $build/mutation-build.log"
      exit 2
    fi
    if failing=$(run_label "$label"); then
      baseline_ok[$label]=1
      continue
    fi
    log "unmutated $label fails: $failing"
    ((keep_going)) || exit 2
    baseline_ok[$label]=0
  done
}

baseline_failed() {
  local label
  IFS=, read -ra list <<<"$1"
  for label in "${list[@]}"; do
    [[ ${baseline_ok[$label]} == 0 ]] && return 0
  done
  return 1
}

# The labels in order, until one catches the mutation: the layer's own
# tests first, then the end-to-end ones named after it. Prints
# "label: test" for the catch.
run_labels() {
  local label failing
  IFS=, read -ra list <<<"$1"
  for label in "${list[@]}"; do
    if ! failing=$(run_label "$label"); then
      printf '%s: %s\n' "$label" "$failing"
      return 1
    fi
  done
  return 0
}

declare -A new_result=() new_test=() new_where=()
for id in "${wanted[@]}"; do
  original=${original_of[$id]}
  replacement=${replacement_of[$id]}
  labels=${labels_of[$id]}
  # The file may be a pattern (tools/*.cc), so that a row follows code that
  # moves to another file; the text must then occur once in all of them.
  occurrences=0
  path=""
  content=""
  for candidate in "$root"/${file_of[$id]}; do
    [[ -f $candidate ]] || continue
    # The x keeps the trailing newlines that $(...) would strip.
    text=$(cat "$candidate"; printf x)
    text=${text%x}
    without=${text//"$original"/}
    count=$(((${#text} - ${#without}) / ${#original}))
    if ((count > 0)); then
      path=$candidate
      content=$text
      occurrences=$((occurrences + count))
    fi
  done
  if ((occurrences != 1)); then
    log "$id: gone ($occurrences occurrences in ${file_of[$id]})"
    new_result[$id]=gone
    new_test[$id]=""
    new_where[$id]=${file_of[$id]}
    continue
  fi
  file=${path#"$root"/}
  before=${content%%"$original"*}
  line=$(($(printf '%s' "$before" | wc -l) + 1))
  new_where[$id]="$file:$line"

  check_baseline "$labels"
  if baseline_failed "$labels"; then
    new_result[$id]=baseline-failed
    new_test[$id]=""
    continue
  fi

  cp "$path" "$saved"
  mutated=$path
  printf '%s' "${content/"$original"/"$replacement"}" >"$path"
  if ! build_labels "$labels"; then
    result=build-error
    test=""
  elif test=$(run_labels "$labels"); then
    result=missed
    test=""
  else
    result=caught
  fi
  restore
  log "$id: $result${test:+ by $test}"
  new_result[$id]=$result
  new_test[$id]=$test
done
# The last restored file is rebuilt now, so that the build directory is
# left as the tree is.
build_labels "$(IFS=,; printf '%s' "${!baseline_ok[*]}")" || true

# Code for a table cell: each line trimmed, line breaks shown as ⏎, and
# "(deleted)" for nothing.
code_cell() {
  local text
  text=$(sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' <<<"$1" | sed -e ':a' -e 'N' -e '$!ba' -e 's/\n/ ⏎ /g')
  if [[ -z $text ]]; then
    printf '(deleted)'
  else
    printf '`%s`' "$text"
  fi
}

# The report: the fresh results, and the previous ones for rows not run.
lost=()
{
  echo "# Mutation check"
  echo
  echo "Each row is one deliberate fault, applied alone to the file and line given;"
  echo "the affected layer's tests are then built and run (\`tests/mutations.sh\`,"
  echo "rows in \`tests/mutations.tsv\`). *caught* names the first test that failed"
  echo "(a hang counts as caught when it hits the per-test timeout), prefixed with"
  echo "its label: the layer's own tests run first, then the end-to-end and stress"
  echo "tests the row names. *missed* means all of them still passed. Rerun after"
  echo "changing the tests: the script reports a mutation caught before and missed"
  echo "now as a lost catch."
  echo
  echo "| id | file:line | mutation | change | result | caught by |"
  echo "|---|---|---|---|---|---|"
  declare -A count=() layer_rows=() layer_caught=()
  layers=()
  for id in "${ids[@]}"; do
    if [[ -n ${new_result[$id]+set} ]]; then
      result=${new_result[$id]} test=${new_test[$id]} where=${new_where[$id]}
      if [[ ${old_result[$id]:-} == caught && $result == missed ]]; then lost+=("$id"); fi
    else
      result=${old_result[$id]:-not run} test=${old_test[$id]:-} where=${old_where[$id]:-${file_of[$id]}}
    fi
    count[$result]=$((${count[$result]:-0} + 1))
    layer=${labels_of[$id]%%,*}
    [[ -z ${layer_rows[$layer]:-} ]] && layers+=("$layer")
    layer_rows[$layer]=$((${layer_rows[$layer]:-0} + 1))
    [[ $result == caught ]] && layer_caught[$layer]=$((${layer_caught[$layer]:-0} + 1))
    change="$(code_cell "${original_of[$id]}") → $(code_cell "${replacement_of[$id]}")"
    printf '| %s | %s | %s | %s | %s | %s |\n' "$id" "$where" "${description_of[$id]//|/\\|}" "${change//|/\\|}" \
      "$result" "${test:+\`$test\`}"
  done
  echo
  echo "Caught per layer:"
  echo
  for layer in "${layers[@]}"; do
    echo "- $layer: ${layer_caught[$layer]:-0} of ${layer_rows[$layer]}"
  done
  echo
  summary="${#ids[@]} mutations:"
  for result in caught missed build-error gone baseline-failed "not run"; do
    [[ -n ${count[$result]:-} ]] && summary+=" ${count[$result]} $result,"
  done
  echo "${summary%,}."
} >"$report.new"
mv "$report.new" "$report"
log "$(tail -1 "$report")"

if ((${#lost[@]} > 0)); then
  log "lost catches: ${lost[*]}"
  exit 1
fi
exit 0
