#!/usr/bin/env bash
# The LV2 edition standalone under JACK, as a live mixer in jalv: a JACK
# server of its own on the dummy backend, jalv with the bundle and a saved
# state (jalv -l), its ports found with jack_lsp, a control set and the
# _current values read back, then jalv quit, once by closing its input and
# once by Ctrl-C (SIGINT). Each time jalv must exit within a few seconds
# and the server must still answer.
#
#   jalv_under_jack.sh LV2_PATH PLUGIN_URI
#
# Exits 77 (skipped) with one line saying why where the machine cannot run it.
set -u
export LV2_PATH="$1"
uri="$2"
for tool in jackd jalv jack_lsp jack_property; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (scripts/deps.sh installs jackd2 and jalv)"; exit 77; }
done

work="$(mktemp -d)"
server="tarnvale-test-$$"
client="tarnvale"
export JACK_DEFAULT_SERVER="$server" JACK_NO_START_SERVER=1 JACK_NO_AUDIO_RESERVATION=1
jackd_pid="" jalv_pid=""
cleanup() {
  [ -n "$jalv_pid" ] && kill -9 "$jalv_pid" 2>/dev/null
  [ -n "$jackd_pid" ] && kill "$jackd_pid" 2>/dev/null && wait "$jackd_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; [ -f "$work/jalv.log" ] && tail -n 20 "$work/jalv.log"; exit 1; }

# Waits up to $1 tenths of a second for the command after it to succeed.
within() {
  local tenths="$1"; shift
  for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
answers() { timeout 5 jack_lsp >/dev/null 2>&1; }

jackd -n "$server" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
if ! within 100 answers; then
  echo "skipped: JACK's dummy backend does not start on this machine ($(tail -n 1 "$work/jackd.log"))"
  exit 77
fi

# A saved state as jalv -l reads it: the master volume's port at 100 %, its
# value in use 50 % (as a MIDI move leaves it), channel 3 muted.
mkdir "$work/state"
cat >"$work/state/manifest.ttl" <<TTL
@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .
<state.ttl> a pset:Preset ; lv2:appliesTo <$uri> ; rdfs:seeAlso <state.ttl> .
TTL
cat >"$work/state/state.ttl" <<TTL
@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix state: <http://lv2plug.in/ns/ext/state#> .
@prefix xsd: <http://www.w3.org/2001/XMLSchema#> .
<> a pset:Preset ; lv2:appliesTo <$uri> ;
  lv2:port [ lv2:symbol "master_volume" ; pset:value 100.0 ] ;
  state:state [ <$uri#master_volume> "50.0"^^xsd:float ; <$uri#ch03_mute> "1.0"^^xsd:float ] .
TTL

ports_up() { [ "$(jack_lsp "$client:" 2>/dev/null | wc -l)" -eq 71 ]; }
logged() { grep -q "$1" "$work/jalv.log"; }
gone() { ! kill -0 "$jalv_pid" 2>/dev/null; }

for quit in eof sigint; do
  rm -f "$work/in"
  mkfifo "$work/in"
  jalv -x -n "$client" -p -l "$work/state" "$uri" <"$work/in" >"$work/jalv.log" 2>&1 &
  jalv_pid=$!
  exec 3>"$work/in"
  within 150 ports_up || fail "jalv's 70 audio ports and MIDI port did not appear: $(jack_lsp "$client:" | wc -l) ports"
  for port in in01_l in16_r main_l main_r send1_l send2_r ch01_l ch16_r midi_in; do
    jack_lsp "$client:$port" | grep -qx "$client:$port" || fail "no port $client:$port"
  done
  echo "ch01_volume = 50" >&3
  sleep 0.3
  echo "monitors" >&3
  within 50 logged "ch01_volume_current = 50.000000" || fail "ch01_volume_current did not read back 50"
  logged "master_volume_current = 50.000000" || fail "the restored master volume is not in use"
  logged "^master_volume = 100.000000" || fail "the state's port value did not reach the port"

  # JACK 1.9.21 deadlocks when a client closes with many ports that still
  # carry metadata (jalv gives each port a pretty name and an order): the
  # server writes one notification per port to the closing client, which
  # no longer reads them. Removing the metadata first avoids that.
  timeout 10 jack_property -D >/dev/null || fail "jack_property -D did not answer"
  if [ "$quit" = eof ]; then
    exec 3>&-
  else
    kill -INT "$jalv_pid"
    exec 3>&-
  fi
  within 50 gone || fail "jalv did not exit within 5 s of its $quit"
  wait "$jalv_pid" 2>/dev/null
  jalv_pid=""
  answers || fail "the JACK server stopped answering after jalv quit by $quit"
  jack_lsp | grep -q "^$client:" && fail "jalv's ports are still there after it quit by $quit"
  echo "jalv quit by $quit: exited at once, the server answers"
done
echo "jalv under JACK: passed"
