# Sourced by whatever ctest starts under Wine (winerun.sh, the browser tests). A test that ctest gave a lane
# (resource "lanes") runs in that lane's prefix and on its display; any other test runs in lane 0. A test
# program started by hand, outside ctest, has no lane: if it needs one (VD_NEEDS_LANE) it waits for lane 0
# to be free, so that such tests still never overlap.
_vd_lanes_dir="$(dirname "${WINEPREFIX:?}")/lanes"
if [ -n "${CTEST_RESOURCE_GROUP_0_LANES:-}" ]; then
  _vd_lane=${CTEST_RESOURCE_GROUP_0_LANES#id:}
  _vd_lane=${_vd_lane%%,*}
else
  _vd_lane=0
  if [ -n "${VD_NEEDS_LANE:-}" ]; then
    mkdir -p "$_vd_lanes_dir"
    exec 8>"$_vd_lanes_dir/0.serial-lock"
    flock 8
  fi
fi
if [ -f "$_vd_lanes_dir/$_vd_lane.env" ]; then
  source "$_vd_lanes_dir/$_vd_lane.env"
fi
unset _vd_lanes_dir _vd_lane
