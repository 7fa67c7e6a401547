#!/usr/bin/env bash
# Installs the build into a scratch DESTDIR and runs the installed programs
# as a user of the package would: vorlent-cli against the installed
# simulator and demo bus, and vorlent on the offscreen platform, with HOME
# pointing at a scratch folder and nothing of the build tree in reach.
#   install-test.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vorlent-install-XXXXXX")
sim=""
cleanup() {
  if [ -n "$sim" ]; then kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "install-test: $*" >&2; exit 1; }

root="$scratch/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null
usr="$root/usr"
for f in bin/vorlent bin/vorlent-cli bin/vorlent-unitsim \
         share/vorlent/GLOBAL.INI share/vorlent/English.lng share/vorlent/Deutsch.lng share/vorlent/demo.bus \
         share/applications/vorlent.desktop share/icons/hicolor/64x64/apps/vorlent.png \
         share/man/man1/vorlent.1.gz share/man/man1/vorlent-cli.1.gz share/man/man1/vorlent-unitsim.1.gz \
         share/doc/vorlent/copyright; do
  [ -e "$usr/$f" ] || fail "not installed: $f"
done
for page in "$usr"/share/man/man1/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

# The user's world: an empty home, no program directory of the build.
export HOME="$scratch/home"
mkdir -p "$HOME"
unset VORLENT_HOME XDG_CONFIG_HOME VORLENT_TRACE DISPLAY WAYLAND_DISPLAY
export XDG_RUNTIME_DIR="$scratch/run"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
cd "$HOME"

"$usr/bin/vorlent-unitsim" "$usr/share/vorlent/demo.bus" >"$scratch/sim.out" 2>"$scratch/sim.err" &
sim=$!
for _ in $(seq 50); do
  [ -s "$scratch/sim.out" ] && break
  sleep 0.1
done
device=$(head -n 1 "$scratch/sim.out")
[ -n "$device" ] || fail "the installed simulator did not start: $(cat "$scratch/sim.err")"

# A pseudo-terminal answers at once: a short time-out keeps the 28 empty
# addresses of the scan short.
out=$("$usr/bin/vorlent-cli" --device "$device" --timeout 20 scan) || fail "installed vorlent-cli scan failed"
[ "$out" = "$(printf '03\t7\tTORVA08\n12\t12\tMZR 120')" ] || fail "unexpected scan: $out"
config="$HOME/.config/vorlent"
for f in GLOBAL.INI English.lng Deutsch.lng demo.bus; do
  cmp -s "$config/$f" "$usr/share/vorlent/$f" || fail "$config/$f is not a copy of the shipped file"
done

out=$("$usr/bin/vorlent-cli" --version)
case "$out" in *"program directory: $config (the user's own)"*) ;; *) fail "vorlent-cli --version: $out" ;; esac
out=$("$usr/bin/vorlent" --version)
case "$out" in *"program directory: $config (the user's own)"*) ;; *) fail "vorlent --version: $out" ;; esac

# A file the user changed stays as it is on the next start.
printf '[GENERAL]\r\nLanguage=DEUTSCH\r\nAnzPar=7\r\n' >"$config/CONFIG.INI"
echo "; mine" >>"$config/GLOBAL.INI"
"$usr/bin/vorlent-cli" --device "$device" --trace "$scratch/cli.trace" receive 3 - >"$scratch/unit3.7" ||
  fail "installed vorlent-cli receive failed"
grep -q "TORVA08" "$scratch/unit3.7" || fail "the received recipe lacks the unit's type"
grep -q "^# job: $device at " "$scratch/cli.trace" || fail "the trace lacks the job: $(head -n 3 "$scratch/cli.trace")"
grep -qP '^\d+\.\d{3}\t03\t\?TYP=\tG03:TORVA 3..<ETX>\tanswer$' "$scratch/cli.trace" ||
  fail "the trace lacks the type query: $(head -n 5 "$scratch/cli.trace")"
tail -n 1 "$config/GLOBAL.INI" | grep -q "; mine" || fail "the user's GLOBAL.INI was replaced"
grep -q "AnzPar=7" "$config/CONFIG.INI" || fail "the user's CONFIG.INI was replaced"

# The window program starts from the user's directory and reaches the
# interface dialog (134), which the start-up probe reports before it ends.
# A program started from the desktop menu takes its trace from the environment.
out=$(QT_QPA_PLATFORM=offscreen VORLENT_STARTUP_PROBE=1 VORLENT_TRACE="$scratch/gui.trace" timeout 60 \
      "$usr/bin/vorlent" 2>"$scratch/vorlent.err") ||
  fail "installed vorlent did not reach its interface dialog: $(cat "$scratch/vorlent.err")"
[ "$out" = "dialog 134" ] || fail "installed vorlent showed '$out' first"
grep -q "^# vorlent .* trace, " "$scratch/gui.trace" || fail "installed vorlent did not open VORLENT_TRACE"
echo "install-test: installed programs work from $config"
