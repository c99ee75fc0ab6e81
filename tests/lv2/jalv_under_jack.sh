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
# Every step is logged with the seconds since the start and bounded in
# time; a step that does not finish fails the test, naming it, and the
# whole test gives up after kDeadline seconds (under CTest's limit). Exits
# 77 (skipped) with one line saying why where the machine cannot run it.
#
# JACK 1.9.21 blocks for good when a client closes while the server is
# sending it notifications: the server writes one notification per port
# property to every client, and one that has stopped reading them (a
# closing client) fills its socket and stops the server. jalv gives each of
# its 71 ports a pretty name and an order (142 properties) as it starts, and
# the properties go again when it closes. So no other JACK client runs here
# while jalv sets its ports up (readiness is read from jalv's own answers,
# not by polling the server), and the properties are removed (and their
# removal's notifications given a moment to arrive) before jalv quits.
set -u
export LV2_PATH="$1"
uri="$2"
kDeadline=100
for tool in jackd jalv jack_lsp jack_property timeout; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (scripts/deps.sh installs jackd2 and jalv)"; exit 77; }
done

work="$(mktemp -d)"
server="tarnvale-test-$$-$RANDOM"
client="tarnvale"
export JACK_DEFAULT_SERVER="$server" JACK_NO_START_SERVER=1 JACK_NO_AUDIO_RESERVATION=1
started="$(date +%s%N)"
jackd_pid="" jalv_pid="" feeder_pid="" watchdog_pid="" current="starting"

# One line per step, with the seconds since the start.
step() {
  current="$*"
  local hundredths=$((($(date +%s%N) - started) / 10000000))
  printf '[%3d.%02d s] %s\n' $((hundredths / 100)) $((hundredths % 100)) "$current"
}
# Ends a process without waiting on it for longer than `limit` tenths.
stop() {
  local pid="$1" signal="$2" limit="$3"
  kill -"$signal" "$pid" 2>/dev/null || return 0
  for ((i = 0; i < limit; i++)); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}
cleanup() {
  trap - EXIT USR1
  exec 3>&- 2>/dev/null
  [ -n "$watchdog_pid" ] && pkill -P "$watchdog_pid" 2>/dev/null
  [ -n "$feeder_pid" ] && stop "$feeder_pid" 9 20
  [ -n "$jalv_pid" ] && stop "$jalv_pid" 9 20
  [ -n "$jackd_pid" ] && stop "$jackd_pid" TERM 30
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAILED at step \"$current\": $*"
  [ -f "$work/jalv.log" ] && { echo "--- jalv's last lines:"; tail -n 15 "$work/jalv.log"; }
  [ -f "$work/jackd.log" ] && { echo "--- jackd's last lines:"; tail -n 5 "$work/jackd.log"; }
  exit 1
}
# The whole test's limit: each command below is bounded, so the trap runs
# within seconds of the signal.
trap 'fail "the test took over $kDeadline s"' USR1
(exec >/dev/null 2>&1; sleep "$kDeadline" && kill -USR1 $$) &
watchdog_pid=$!

# Waits up to $1 tenths of a second for the command after it to succeed.
within() {
  local tenths="$1"; shift
  for ((i = 0; i < tenths; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
answers() { timeout -k 1 3 jack_lsp >/dev/null 2>&1; }
alive() { kill -0 "$1" 2>/dev/null; }
# What each thread of a process waits in (the kernel's name for it).
waits() {
  local t out=""
  for t in /proc/"$1"/task/*; do out+=" $(cat "$t/wchan" 2>/dev/null)"; done
  echo "${out# }"
}
# Why jalv has not exited: whether it does within 15 s more, and where its
# threads and the server's wait.
stuck() {
  local where="jalv's threads wait in: $(waits "$jalv_pid"); jackd's: $(waits "$jackd_pid")"
  if within 150 eval '! alive "$jalv_pid"'; then echo "it exited later ($where)"; else echo "still there 15 s later ($where)"; fi
  answers && echo "the server answers" || echo "the server does not answer"
}
logged() { grep -q "$1" "$work/jalv.log"; }
# Asks jalv for its output values and waits up to $2 tenths for line $1.
reads_back() {
  local line="$1" tenths="$2"
  for ((t = 0; t < tenths; t += 5)); do
    echo "monitors" >&3
    within 5 logged "$line" && return 0
    alive "$jalv_pid" || return 1
  done
  return 1
}

step "JACK server $server on the dummy backend"
jackd -n "$server" -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
jackd_pid=$!
for ((tries = 0; ; tries++)); do
  answers && break
  if ! alive "$jackd_pid"; then
    wait "$jackd_pid" 2>/dev/null
    jackd_pid=""
    echo "skipped: JACK's dummy backend does not start on this machine ($(tail -n 1 "$work/jackd.log"))"
    exit 77
  fi
  [ "$tries" -lt 100 ] || fail "jackd runs but has not answered for 20 s"
  sleep 0.1
done

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

for quit in eof sigint; do
  step "jalv with the bundle and the state (to quit by $quit)"
  rm -f "$work/in" "$work/jalv.log"
  mkfifo "$work/in"
  jalv -x -n "$client" -p -l "$work/state" "$uri" <"$work/in" >"$work/jalv.log" 2>&1 &
  jalv_pid=$!
  # jalv's input through a feeder, so no write here waits on jalv.
  exec 3> >(exec 2>/dev/null; exec cat >"$work/in")
  feeder_pid=$!

  # jalv answers its console only once every port and its properties are
  # set up; until then nothing else talks to the server.
  step "jalv ready (its values read back, the restored master volume in use)"
  reads_back "master_volume_current = 50.000000" 300 || fail "jalv did not print its values within 30 s, or the restored master volume (50) is not in use"
  logged "^master_volume = 100.000000" || fail "the state's port value did not reach the port"

  step "jalv's ports listed by jack_lsp"
  timeout -k 1 10 jack_lsp "$client:" >"$work/ports" 2>&1 || fail "jack_lsp did not answer within 10 s"
  [ "$(wc -l <"$work/ports")" -eq 71 ] || fail "not jalv's 70 audio ports and MIDI port: $(wc -l <"$work/ports") ports"
  for port in in01_l in16_r main_l main_r send1_l send2_r ch01_l ch16_r midi_in; do
    grep -qx "$client:$port" "$work/ports" || fail "no port $client:$port"
  done

  step "a control set, its _current value read back"
  echo "ch01_volume = 50" >&3
  reads_back "ch01_volume_current = 50.000000" 100 || fail "ch01_volume_current did not read back 50 within 10 s"

  step "the ports' properties removed (jack_property -D)"
  timeout -k 1 10 jack_property -D >/dev/null 2>&1 || fail "jack_property -D did not answer within 10 s"
  # The removal's own notifications reach jalv a little later; quitting
  # while the server still writes them to jalv can block it the same way.
  sleep 1

  step "jalv quit by $quit"
  [ "$quit" = sigint ] && kill -INT "$jalv_pid"
  exec 3>&-
  within 50 eval '! alive "$jalv_pid"' || fail "jalv did not exit within 5 s of its $quit: $(stuck)"
  wait "$jalv_pid" 2>/dev/null
  jalv_pid=""
  stop "$feeder_pid" 9 10
  feeder_pid=""

  step "the server answers after jalv quit by $quit"
  answers || fail "the JACK server stopped answering after jalv quit by $quit"
  timeout -k 1 5 jack_lsp 2>/dev/null | grep -q "^$client:" && fail "jalv's ports are still there after it quit by $quit"
  echo "jalv quit by $quit: exited at once, the server answers"
done
step "done"
echo "jalv under JACK: passed"
