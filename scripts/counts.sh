# shellcheck shell=bash
# Sourced by the test scripts that count checks (scripts/test-windows.sh, scripts/wine-run-tests.sh).
# A check prints a line only when it fails; every count ends in one line, "N passed, N failed",
# which a calling script adds to its own with count_summary. Test programs and script suites
# under Wine end their output with "RESULT <passed> <failed>" (tests/wine/check.h, harness.js,
# harness.vbs), which count_result adds.

passed=0
failed=0

pass() { passed=$((passed + 1)); }
fail() {
  failed=$((failed + 1))
  echo "FAIL $*"
}

# count_result NAME OUTPUT-FILE EXIT-CODE: adds the counts of the program's last "RESULT p f" line
# and shows its FAIL lines. A program that printed none, or that failed no check yet exited with
# an error, counts as one failure.
count_result() {
  local name=$1 out=$2 rc=$3 line
  grep -a '^FAIL' "$out" | sed "s/^/  [$name] /"
  line=$(grep -a '^RESULT ' "$out" | tail -n 1 | tr -d '\r')
  if ! [[ "$line" =~ ^RESULT\ ([0-9]+)\ ([0-9]+)$ ]]; then
    fail "$name: ended without a result (exit code $rc)"
    sed 's/^/  | /' "$out" | tail -n 20
    return
  fi
  passed=$((passed + BASH_REMATCH[1]))
  failed=$((failed + BASH_REMATCH[2]))
  if [ "${BASH_REMATCH[2]}" = 0 ] && [ "$rc" != 0 ]; then fail "$name: exit code $rc"; fi
  echo "$name: ${BASH_REMATCH[1]} passed, ${BASH_REMATCH[2]} failed"
}

# count_summary NAME OUTPUT-FILE: shows the output of a script that counts with this file, and
# adds the counts of its last line. Output without that line counts as one failure.
count_summary() {
  local name=$1 out=$2 line
  sed '$d' "$out"
  line=$(tail -n 1 "$out")
  if [[ "$line" =~ ^([0-9]+)\ passed,\ ([0-9]+)\ failed$ ]]; then
    passed=$((passed + BASH_REMATCH[1]))
    failed=$((failed + BASH_REMATCH[2]))
  else
    echo "$line"
    fail "$name ended without a count"
  fi
}

# Prints the closing line and exits: 0 when nothing failed, else 1.
finish() {
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ] && exit 0
  exit 1
}
