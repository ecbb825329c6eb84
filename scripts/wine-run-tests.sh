#!/usr/bin/env bash
# Runs the Wine suites against a cross-built module:
#   scripts/wine-run-tests.sh <windows-build-dir>
# REQUIRES: the build folder holds Zentrak.ocx and wine-tests/ (target zentrak_wine_tests), and a
# prefix made by scripts/wine-prefix.sh.
#
# The module is copied to a folder whose name holds a blank and registered there with regsvr32,
# so that the short-path rule is exercised. Then:
#   - the registry holds every entry of the registration tables (reg query);
#   - the JScript and VBScript suites in tests/wine run under code page 936 (LC_ALL=zh_CN.UTF-8)
#     and under the default code page; printing.js prints to the queues of a private cupsd when
#     one runs (ZENTRAK_CUPS_ROOT, set by tests/cups/with_cupsd.sh), deleting a queue through
#     this runner on its way, and the printed file is read with pdfinfo and the jobs' attributes
#     with ipptool;
#   - tests/wine/noprinters runs where Wine can reach no scheduler (no printer, no default);
#   - the test programs run (exports, factories, connection points; the type library);
#   - after regsvr32 /u none of the keys is left.
# Every check counts; the last line is "N passed, N failed". Exits 1 when anything failed.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
# shellcheck source=wine-env.sh
. "$here/wine-env.sh"
# shellcheck source=counts.sh
. "$here/counts.sh"

[ $# -ge 1 ] || { echo "usage: $0 <windows-build-dir>" >&2; exit 2; }
build=$(cd "$1" && pwd)
zentrak_wine_env "$build" || exit 1
[ -d "$WINEPREFIX" ] || { echo "wine-run-tests: no prefix in $WINEPREFIX (run scripts/wine-prefix.sh)" >&2; exit 1; }

work="$build/wine-tests/run"
rm -rf "$work"
mkdir -p "$work/module dir"

# Keeps one wineserver for the whole run; every program below starts much faster with it.
"$ZENTRAK_WINESERVER" -p >/dev/null 2>&1 || true
trap '"$ZENTRAK_WINESERVER" -k >/dev/null 2>&1 || true' EXIT

module="$work/module dir/Zentrak.ocx"
cp "$build/Zentrak.ocx" "$module"
winmodule=$(zentrak_winpath "$module")

# --- Registration ---------------------------------------------------------------------------
if zentrak_wine regsvr32 /s "$winmodule" >"$work/regsvr32.log" 2>&1; then
  pass
else
  fail "regsvr32 $winmodule"
fi

zentrak_wine "$build/wine-tests/zentrak_registry_entries.exe" "$winmodule" >"$work/entries.txt" 2>&1
count_result "registry entries" "$work/entries.txt" $?

# The value lines of a key as "name<TAB>value", the default value named "(Default)".
reg_values() {
  zentrak_wine reg query "HKCR\\$1" 2>/dev/null | tr -d '\r' |
    sed -n 's/^    \(.*\)    REG_SZ    \(.*\)$/\1\t\2/p; s/^    \(.*\)    REG_SZ$/\1\t/p'
}

declare -A key_values=()
while IFS='|' read -r kind key name value; do
  [ "$kind" = ENTRY ] || continue
  if [ -z "${key_values[$key]+set}" ]; then key_values[$key]=$(reg_values "$key"); fi
  want="${name:-(Default)}"$'\t'"$value"
  if grep -qxF -- "$want" <<<"${key_values[$key]}"; then
    pass
  else
    fail "registry HKCR\\$key value ${name:-(Default)}: want [$value], found [$(grep -F -- "${name:-(Default)}"$'\t' <<<"${key_values[$key]}" | cut -f2-)]"
  fi
done < <(tr -d '\r' <"$work/entries.txt")
typelib_key=$(tr -d '\r' <"$work/entries.txt" | sed -n 's/^TYPELIB|//p')
if zentrak_wine reg query "HKCR\\$typelib_key" >/dev/null 2>&1; then pass; else fail "type library not registered: HKCR\\$typelib_key"; fi

# --- Script suites --------------------------------------------------------------------------
# Beside a private cupsd (tests/cups/with_cupsd.sh sets ZENTRAK_CUPS_ROOT), printing.js prints a
# three-page sample to its queues through Wine's winspool; the printed file is checked below.
if [ -n "${ZENTRAK_CUPS_ROOT:-}" ]; then
  python3 - "$work/sample.pdf" "$work/sample.b64" <<EOF2
import base64, sys
sys.path.insert(0, "$repo/tests/cups")
from sample_pdf import A4, make_pdf
pdf = make_pdf([(A4[0], A4[1], 0, "Zentrak page %d" % n, 72, 720, 24) for n in (1, 2, 3)])
open(sys.argv[1], "wb").write(pdf)
open(sys.argv[2], "w").write(base64.b64encode(pdf).decode())
EOF2
  export ZENTRAK_PRINT_OUT ZENTRAK_PRINT_SAMPLE ZENTRAK_PRINT_RUNNER
  ZENTRAK_PRINT_OUT=$(zentrak_winpath "$ZENTRAK_CUPS_ROOT/out")
  ZENTRAK_PRINT_SAMPLE=$(zentrak_winpath "$work/sample.b64")
  # Requests of printing.js (askRunner): a file "request" in this folder, answered by "done".
  mkdir -p "$work/runner"
  ZENTRAK_PRINT_RUNNER=$(zentrak_winpath "$work/runner")
  (
    while sleep 0.2; do
      [ -f "$work/runner/request" ] || continue
      request=$(cat "$work/runner/request")
      rm -f "$work/runner/request"
      case "$request" in
        "delete Zentrak"[A-Z]) lpadmin -x "${request#delete }" ;;
        *) echo "wine-run-tests: unknown request [$request]" >&2 ;;
      esac
      touch "$work/runner/done"
    done
  ) &
  request_server=$!
  trap 'kill $request_server 2>/dev/null; "$ZENTRAK_WINESERVER" -k >/dev/null 2>&1 || true' EXIT
fi

# The queue that printing.js sees disappear, added again before each run of the suite.
add_queue_c() {
  lpadmin -p ZentrakC -E -v "file://$ZENTRAK_CUPS_ROOT/out/ZentrakC.pdf" -P "$repo/tests/cups/passthrough.ppd" 2>/dev/null
}

run_script() {
  local suite=$1 locale=$2 ext=${1##*.} name file out rc
  name="$(basename "$suite") ($locale)"
  file="$work/$(basename "$suite" ".$ext")-$locale.$ext"
  # Wine's cscript reports an uncaught script error nowhere and exits with 0; a JScript suite
  # therefore runs inside a guard that reports it (uncaught, in harness.js).
  if [ "$ext" = js ]; then
    { cat "$repo/tests/wine/harness.js"; echo "try {"; cat "$suite"; echo; echo '} catch (e) { uncaught(e); }'
    } >"$file"
  else
    cat "$repo/tests/wine/harness.$ext" "$suite" >"$file"
  fi
  out="$file.out"
  if [ "$locale" = cp936 ]; then
    env LC_ALL=zh_CN.UTF-8 "$ZENTRAK_WINE" cscript //nologo "$(zentrak_winpath "$file")" >"$out" 2>&1
  else
    (unset LC_ALL LANG LANGUAGE; zentrak_wine cscript //nologo "$(zentrak_winpath "$file")") >"$out" 2>&1
  fi
  rc=$?
  count_result "$name" "$out" $rc
}

for suite in "$repo"/tests/wine/*.js "$repo"/tests/wine/*.vbs; do
  case "$(basename "$suite")" in harness.*) continue ;; esac
  for locale in cp936 default; do
    if [ "$(basename "$suite")" = printing.js ] && [ -n "${ZENTRAK_CUPS_ROOT:-}" ]; then add_queue_c; fi
    run_script "$suite" "$locale"
  done
done

# The outside PDF control's class, registered for one suite as the test's recorder, which writes
# every dispatch call it receives to ZENTRAK_RECORD_FILE.
control_key='HKCR\CLSID\{DB2189DF-ABF4-445A-A4E5-BF32F2CEA4D9}'
if zentrak_wine reg add "$control_key\InprocServer32" /ve /d \
    "$(zentrak_winpath "$build/wine-tests/zentrak_print_recorder.dll")" /f >/dev/null 2>&1; then
  export ZENTRAK_RECORD_FILE
  ZENTRAK_RECORD_FILE=$(zentrak_winpath "$work/print_calls.txt")
  for locale in cp936 default; do run_script "$repo/tests/wine/outside/print_calls.js" "$locale"; done
  zentrak_wine reg delete "$control_key" /f >/dev/null 2>&1
  unset ZENTRAK_RECORD_FILE
else
  fail "registering the print recorder"
fi

if [ -n "${ZENTRAK_CUPS_ROOT:-}" ]; then
  # The last job of printing.js: the sample, as pdftopdf passed it to the queue's file.
  pages=$(pdfinfo "$ZENTRAK_CUPS_ROOT/out/ZentrakB.pdf" 2>&1 | sed -n 's/^Pages: *//p')
  if [ "$pages" = 3 ]; then pass; else fail "printed under Wine: pdfinfo gives [$pages] pages, want 3"; fi
  # Per run of the suite: two prints on ZentrakB, none for the document that is not a PDF nor for
  # the bad option, and one job per copy on ZentrakA; none left queued.
  for want in ZentrakB:4 ZentrakA:4; do
    jobs=$(lpstat -W completed -o "${want%:*}" 2>/dev/null | wc -l)
    if [ "$jobs" = "${want#*:}" ]; then pass; else fail "printed under Wine: $jobs jobs completed on ${want%:*}, want ${want#*:}"; fi
  done
  queued=$(lpstat -W not-completed -o 2>/dev/null | wc -l)
  if [ "$queued" = 0 ]; then pass; else fail "printed under Wine: $queued jobs left queued"; fi

  # The attributes of the last job on each queue, as the scheduler keeps them: Wine hands the RAW
  # job over as application/octet-stream, which the scheduler types as PDF; one copy per job.
  cat >"$work/job.test" <<'EOF2'
{
 OPERATION Get-Job-Attributes
 GROUP operation-attributes-tag
 ATTR charset attributes-charset utf-8
 ATTR naturalLanguage attributes-natural-language en
 ATTR uri printer-uri $uri
 ATTR integer job-id $job_id
 ATTR name requesting-user-name root
 STATUS successful-ok
 DISPLAY job-name
 DISPLAY copies
 DISPLAY document-format
 DISPLAY job-state
}
EOF2
  for queue in ZentrakA ZentrakB; do
    id=$(lpstat -W completed -o "$queue" 2>/dev/null | tail -n 1 | sed -n "s/^$queue-\([0-9]*\) .*/\1/p")
    attrs=$(ipptool -t -d "job_id=${id:-0}" "ipp://127.0.0.1:$ZENTRAK_CUPS_PORT/printers/$queue" "$work/job.test" 2>&1 |
            sed -n 's/^ *\([a-z-]*\) ([^)]*) = \(.*\)$/\1=\2/p' | sort | tr '\n' ' ')
    want="copies=1 document-format=application/pdf job-name=Zentrak job-state=completed "
    if [ "$attrs" = "$want" ]; then pass; else fail "job attributes on $queue: [$attrs], want [$want]"; fi
  done
fi

# --- The preview window ---------------------------------------------------------------------
# Under Xvfb (Wine needs a display for windows that show), tests/wine/preview/preview.js waits in
# PrintServer.preview while zentrak_preview_driver works the window from another process: once
# with the recorder as the outside control (its calls are compared), once with the own engine
# printing the sample to ZentrakA, once with a document that is no PDF (the error's message box).
# A screenshot of the own engine's window is kept in the build folder (preview-wine.png).
if command -v Xvfb >/dev/null; then
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/xvfb.display" 2>/dev/null &
  xvfb=$!
  for _ in $(seq 100); do [ -s "$work/xvfb.display" ] && break; sleep 0.1; done
  preview_display=":$(cat "$work/xvfb.display")"
  # Wine's desktop process takes the display of the program that starts it: it must start anew.
  "$ZENTRAK_WINESERVER" -k >/dev/null 2>&1
  "$ZENTRAK_WINESERVER" -p >/dev/null 2>&1 || true
  # The form's font, SimSun, is Windows'; here a CJK font of the system stands in for it.
  zentrak_wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
  documents="$WINEPREFIX/drive_c/users/$(id -un)/Zentrak"
  document_count() { find "$documents" -maxdepth 1 -regex '.*/ToPrint[0-9]*\.pdf' 2>/dev/null | wc -l; }

  driver() {
    DISPLAY=$preview_display "$ZENTRAK_WINE" "$build/wine-tests/zentrak_preview_driver.exe" "$@" 2>/dev/null | tr -d '\r'
  }
  field() { sed -n "s/^$1: //p" <<<"$2"; }
  expect() {
    if [ "$2" = "$3" ]; then pass; else fail "preview, $1: got [$2], want [$3]"; fi
  }
  # start_preview NAME [VAR=VALUE...]: the suite in the background, waiting in preview.
  start_preview() {
    preview_name=$1
    shift
    find "$documents" -maxdepth 1 -name 'ToPrint*.pdf' -delete 2>/dev/null
    preview_file="$work/preview-$preview_name.js"
    { cat "$repo/tests/wine/harness.js"; echo "try {"; cat "$repo/tests/wine/preview/preview.js"; echo
      echo '} catch (e) { uncaught(e); }'; } >"$preview_file"
    env DISPLAY="$preview_display" "$@" "$ZENTRAK_WINE" cscript //nologo "$(zentrak_winpath "$preview_file")" \
      >"$preview_file.out" 2>&1 &
    preview_pid=$!
  }
  end_preview() {
    wait "$preview_pid"
    count_result "preview.js ($preview_name)" "$preview_file.out" $?
    expect "$preview_name: the document file is deleted" "$(document_count)" 0
  }
  # The window as the driver sees it, beside what every preview window shows.
  check_window() {
    expect "$1: caption" "$(field caption "$2")" "打印预览"
    expect "$1: size" "$(field size "$2")" "870x500"
    expect "$1: owner" "$(field owner "$2")" "none"
    expect "$1: button" "$(field button "$2")" "打印"
    expect "$1: the document file" "$(document_count)" 1
    # The list holds the virtual names whose printer is installed (ZentrakB: beside the private
    # cupsd only); the one mapped to the current printer is selected, else the text stays "Printers".
    expect "$1: the virtual names" "$(field items "$2")" "${ZENTRAK_CUPS_ROOT:+Labels}"
    case "$(field selected "$2")" in
      0) expect "$1: the selected name" "$(field printers "$2")" "Labels" ;;
      *) expect "$1: the list's text" "$(field printers "$2")/$(field selected "$2")" "Printers/-1" ;;
    esac
  }

  # The outside control (the recorder): it is shown in the document area, switched as the form
  # wants it, and asked to print twice; the close closes its document and takes its site back.
  if zentrak_wine reg add "$control_key\InprocServer32" /ve /d \
      "$(zentrak_winpath "$build/wine-tests/zentrak_print_recorder.dll")" /f >/dev/null 2>&1; then
    rm -f "$work/preview_calls.txt"
    start_preview recorder ZENTRAK_RECORD_FILE="$(zentrak_winpath "$work/preview_calls.txt")"
    shown=$(driver show)
    echo "$shown" >"$work/preview-recorder.shown"
    check_window "outside control" "$shown"
    expect "outside control: the control is shown" "$(field 'document view' "$shown")" "hosted"
    expect "outside control: no text over it" "$(field document "$shown")" ""
    driver type NoSuchPrinter
    driver click
    driver click
    expect "outside control: closed" "$(driver close | sed -n 's/^closed: //p')" "yes"
    end_preview
    zentrak_wine reg delete "$control_key" /f >/dev/null 2>&1
    prints="control 6 get|printer 2 put I4:0|printer 5 put I2:0|printer 14 call"
    want="ole SetClientSite site|ole DoVerb -5 child hidden|control 19 call BOOL:0|control 49 call BOOL:0|"
    want+="control 15 call BSTR:'<file>' BSTR:''|$prints|$prints|control 22 call|ole Close|ole SetClientSite null"
    got=$(sed -E "s/^control 15 call BSTR:'C:\\\\users\\\\[^\\\\]+\\\\Zentrak\\\\ToPrint[0-9]{15,16}\\.pdf'/control 15 call BSTR:'<file>'/" \
            "$work/preview_calls.txt" 2>/dev/null | tr -d '\r' | paste -sd'|')
    expect "outside control: the calls" "$got" "$want"
  else
    fail "registering the print recorder for the preview"
  fi

  # Our own engine: no view, so the area says so; the button prints the typed queue's name.
  sample_env=()
  [ -f "$work/sample.b64" ] && sample_env=(ZENTRAK_PREVIEW_DOC="$(zentrak_winpath "$work/sample.b64")")
  [ -n "${ZENTRAK_CUPS_ROOT:-}" ] && rm -f "$ZENTRAK_CUPS_ROOT/out/ZentrakA.pdf"
  start_preview own "${sample_env[@]}"
  shown=$(driver show)
  echo "$shown" >"$work/preview-own.shown"
  check_window "own engine" "$shown"
  expect "own engine: the text" "$(field document "$shown")" "No PDF engine is installed to show this document"
  expect "own engine: no view" "$(field 'document view' "$shown")" "none"
  if command -v import >/dev/null; then import -display "$preview_display" -window root "$build/preview-wine.png" 2>/dev/null; fi
  if [ -n "${ZENTRAK_CUPS_ROOT:-}" ]; then
    driver type ZentrakA
    driver click
    for _ in $(seq 100); do [ -s "$ZENTRAK_CUPS_ROOT/out/ZentrakA.pdf" ] && break; sleep 0.2; done
    sleep 0.5
    pages=$(pdfinfo "$ZENTRAK_CUPS_ROOT/out/ZentrakA.pdf" 2>&1 | sed -n 's/^Pages: *//p')
    expect "own engine: the print on ZentrakA" "$pages" 3
  fi
  expect "own engine: closed" "$(driver close | sed -n 's/^closed: //p')" "yes"
  end_preview

  # A document that is no PDF: the click's error in a message box over the window, which stays.
  start_preview error
  driver show >/dev/null
  clicked=$(driver click-error)
  expect "no PDF: the message" "$(field message "$clicked" | grep -c 'not a PDF document')" 1
  expect "no PDF: the box's caption" "$(field 'box caption' "$clicked")" "打印预览"
  expect "no PDF: the window stays open" "$(field 'still open' "$clicked")" "yes"
  expect "no PDF: closed" "$(driver close | sed -n 's/^closed: //p')" "yes"
  end_preview

  # Wine's desktop process has the display open: it ends with the server, before the display.
  "$ZENTRAK_WINESERVER" -k >/dev/null 2>&1
  kill "$xvfb" 2>/dev/null
  "$ZENTRAK_WINESERVER" -p >/dev/null 2>&1 || true
else
  fail "Xvfb is missing: the preview window is not tested"
fi

# --- The viewer control in a container ---------------------------------------------------------
# On Xvfb, with the recorder as the outside control (what preview has it open) and without any
# (the form's notice); tests/wine/viewer_run.sh clicks and types with xdotool and keeps
# screenshots as viewer-engine.png and viewer-no-engine.png in the build folder.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v import >/dev/null; then
  fifo=$(mktemp -u /tmp/zentrak-viewer-xvfb.XXXXXX)
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  viewer_xvfb=$!
  if read -r -t 10 display_number <"$fifo"; then
    # Wine's desktop takes the display of the session's first program: the session so far had
    # none, so a new one starts here, on Xvfb, and ends before the suites that follow.
    "$ZENTRAK_WINESERVER" -k >/dev/null 2>&1
    "$ZENTRAK_WINESERVER" -w >/dev/null 2>&1
    export DISPLAY=":$display_number"
    # The first program of the new session starts Wine's desktop on the display; while the last
    # session's server is still going away it can fail, so the registration is tried again.
    registered=no
    for attempt in 1 2 3; do
      if zentrak_wine reg add "$control_key\InprocServer32" /ve /d \
          "$(zentrak_winpath "$build/wine-tests/zentrak_print_recorder.dll")" /f >"$work/viewer-reg.out" 2>&1; then
        registered=yes
        break
      fi
      sleep 2
    done
    if [ "$registered" = yes ]; then
      ZENTRAK_RECORD_FILE=$(zentrak_winpath "$work/viewer_calls.txt") \
        bash "$repo/tests/wine/viewer_run.sh" "$build" "$work" engine >"$work/viewer-engine.out" 2>&1
      count_result "viewer in a container (engine)" "$work/viewer-engine.out" $?
      zentrak_wine reg delete "$control_key" /f >/dev/null 2>&1
    else
      fail "registering the print recorder for the viewer: $(tail -n 3 "$work/viewer-reg.out" | tr '\n' ' ')"
    fi
    bash "$repo/tests/wine/viewer_run.sh" "$build" "$work" no-engine >"$work/viewer-no-engine.out" 2>&1
    count_result "viewer in a container (no engine)" "$work/viewer-no-engine.out" $?
    "$ZENTRAK_WINESERVER" -k >/dev/null 2>&1
    "$ZENTRAK_WINESERVER" -w >/dev/null 2>&1
    unset DISPLAY
    "$ZENTRAK_WINESERVER" -p >/dev/null 2>&1 || true
  else
    fail "Xvfb did not start for the viewer"
  fi
  kill "$viewer_xvfb" 2>/dev/null
  wait "$viewer_xvfb" 2>/dev/null
  rm -f "$fifo"
else
  fail "the viewer's container test needs Xvfb, xdotool and import"
fi

# --- Test programs --------------------------------------------------------------------------
for locale in cp936 default; do
  out="$work/com_test-$locale.out"
  if [ "$locale" = cp936 ]; then
    env LC_ALL=zh_CN.UTF-8 "$ZENTRAK_WINE" "$build/wine-tests/zentrak_com_test.exe" "$winmodule" >"$out" 2>&1
  else
    (unset LC_ALL LANG LANGUAGE; zentrak_wine "$build/wine-tests/zentrak_com_test.exe" "$winmodule") >"$out" 2>&1
  fi
  count_result "com_test ($locale)" "$out" $?
done
zentrak_wine "$build/wine-tests/zentrak_typelib_test.exe" "$winmodule" >"$work/typelib_test.out" 2>&1
count_result "typelib_test" "$work/typelib_test.out" $?

# --- No printer -----------------------------------------------------------------------------
# Last, as Wine then forgets the printers it had listed (the next program lists them again).
CUPS_SERVER="$work/no-scheduler.sock" run_script "$repo/tests/wine/noprinters/no_default.js" default

# --- Unregistration -------------------------------------------------------------------------
if zentrak_wine regsvr32 /s /u "$winmodule" >"$work/regsvr32-u.log" 2>&1; then pass; else fail "regsvr32 /u"; fi
left=0
while IFS='|' read -r kind key; do
  [ "$kind" = KEY ] || [ "$kind" = TYPELIB ] || continue
  if zentrak_wine reg query "HKCR\\$key" >/dev/null 2>&1; then
    fail "key left after unregistration: HKCR\\$key"
    left=1
  else
    pass
  fi
done < <(tr -d '\r' <"$work/entries.txt")
[ $left = 0 ] && echo "unregistration: no key left"

finish
