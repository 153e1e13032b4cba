#!/usr/bin/env bash
# Source this file: start_test_services starts a private X server, a private D-Bus session bus and
# a private PulseAudio server (a null sink whose monitor is remapped into the default microphone
# "VocalynxTestMic"), and exports the variables that point at them. stop_test_services ends them.

start_test_services() {
  VOCALYNX_SERVICES_DIR="$(mktemp -d /tmp/vocalynx-services.XXXXXX)"
  export VOCALYNX_SERVICES_DIR
  mkdir -p "$VOCALYNX_SERVICES_DIR/runtime" "$VOCALYNX_SERVICES_DIR/home"
  chmod 700 "$VOCALYNX_SERVICES_DIR/runtime"

  # X server: -displayfd picks a free display number.
  Xvfb -displayfd 1 -screen 0 1920x1080x24 -nolisten tcp -ac \
    >"$VOCALYNX_SERVICES_DIR/xvfb.display" 2>"$VOCALYNX_SERVICES_DIR/xvfb.log" &
  VOCALYNX_XVFB_PID=$!
  for _ in $(seq 1 100); do [ -s "$VOCALYNX_SERVICES_DIR/xvfb.display" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$VOCALYNX_SERVICES_DIR/xvfb.display")"

  # Session bus.
  dbus-daemon --session --fork --nopidfile --print-address=3 --print-pid=4 \
    3>"$VOCALYNX_SERVICES_DIR/dbus.address" 4>"$VOCALYNX_SERVICES_DIR/dbus.pid"
  export DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$VOCALYNX_SERVICES_DIR/dbus.address")"
  VOCALYNX_DBUS_PID="$(head -n1 "$VOCALYNX_SERVICES_DIR/dbus.pid")"

  # Sound server with a virtual microphone fed by whatever is played into the null sink.
  export XDG_RUNTIME_DIR="$VOCALYNX_SERVICES_DIR/runtime"
  local sock="$XDG_RUNTIME_DIR/pulse.sock"
  # 48 kHz stereo float, what a desktop microphone typically delivers. Qt lists no monitor source
  # as a microphone, so the sink's monitor is remapped into a source of its own; tests that take the
  # microphone away unload that module and load it again with the same arguments.
  export VOCALYNX_TEST_AUDIO_FORMAT="format=float32le rate=48000 channels=2"
  export VOCALYNX_TEST_MIC_ARGS="source_name=vocalynx_mic master=vocalynx_sink.monitor $VOCALYNX_TEST_AUDIO_FORMAT source_properties=device.description=VocalynxTestMic"
  # The server runs from a script of its own, which tests that take the whole server away run again
  # to bring it back at the same socket; the running server's process id is in pulse.pid.
  export VOCALYNX_PULSE_START="$VOCALYNX_SERVICES_DIR/start-pulse.sh"
  cat >"$VOCALYNX_PULSE_START" <<SCRIPT
#!/bin/sh
echo \$\$ >"$VOCALYNX_SERVICES_DIR/pulse.pid"
HOME="$VOCALYNX_SERVICES_DIR/home" exec pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no \\
  --load="module-native-protocol-unix socket=$sock auth-anonymous=1" \\
  --load="module-null-sink sink_name=vocalynx_sink $VOCALYNX_TEST_AUDIO_FORMAT sink_properties=device.description=VocalynxTestSpeaker" \\
  --load="module-remap-source $VOCALYNX_TEST_MIC_ARGS" \\
  >>"$VOCALYNX_SERVICES_DIR/pulse.log" 2>&1
SCRIPT
  chmod +x "$VOCALYNX_PULSE_START"
  "$VOCALYNX_PULSE_START" &
  VOCALYNX_PULSE_PID=$!
  export PULSE_SERVER="unix:$sock"
  for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-source vocalynx_mic >/dev/null 2>&1 || true
  pactl set-default-sink vocalynx_sink >/dev/null 2>&1 || true
  export VOCALYNX_XVFB_PID VOCALYNX_DBUS_PID VOCALYNX_PULSE_PID
  echo "Test services: DISPLAY=$DISPLAY bus=$DBUS_SESSION_BUS_ADDRESS pulse=$PULSE_SERVER"
}

stop_test_services() {
  # A server a test started again runs under another process id.
  local restarted=""
  [ -n "${VOCALYNX_SERVICES_DIR:-}" ] && restarted="$(cat "$VOCALYNX_SERVICES_DIR/pulse.pid" 2>/dev/null || true)"
  if [ -n "$restarted" ] && [ "$restarted" != "${VOCALYNX_PULSE_PID:-}" ] && kill "$restarted" 2>/dev/null; then
    for _ in $(seq 1 50); do kill -0 "$restarted" 2>/dev/null || break; sleep 0.1; done
  fi
  for pid in "${VOCALYNX_PULSE_PID:-}" "${VOCALYNX_DBUS_PID:-}" "${VOCALYNX_XVFB_PID:-}"; do
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  for pid in "${VOCALYNX_PULSE_PID:-}" "${VOCALYNX_XVFB_PID:-}"; do
    [ -n "$pid" ] && wait "$pid" 2>/dev/null || true
  done
  [ -n "${VOCALYNX_SERVICES_DIR:-}" ] && rm -rf "$VOCALYNX_SERVICES_DIR"
}
