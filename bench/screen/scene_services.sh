# Sourced by the screen benches: builds bench/screen/step_scene.c into $work, starts the test
# services (stopped, with any scene left running, on exit) and defines xcpu, the X server's CPU
# time in clock ticks ($hz a second), and start_box_scene. Needs $root and $work.
gcc -O2 -o "$work/step_scene" "$root/bench/screen/step_scene.c" -lX11
eval "$("$root/scripts/test-services.sh" start)"
scene=""
trap '[ -n "$scene" ] && kill "$scene" 2>/dev/null; "$root/scripts/test-services.sh" stop; rm -rf "$work"' EXIT
xpid=$(cat "$DESKTRACKS_SERVICES_DIR/xvfb.pid")
hz=$(getconf CLK_TCK)
xcpu() { awk '{print $14+$15}' "/proc/$xpid/stat"; }

# The moving 200x200 box on a still desktop, at the rate given, left running until exit.
start_box_scene() {
  "$work/step_scene" box "$1" 100000 &
  scene=$!
  sleep 1
}
