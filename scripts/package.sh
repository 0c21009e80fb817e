#!/usr/bin/env bash
# Builds the Debian package from the Release build (release preset: g++, plugin and hcs only, prefix
# /usr) and proves it, installing nothing on this system:
#   - lintian reports no error (its warnings are printed);
#   - unpacked with dpkg -x into a scratch folder, its hcs runs the demo with its own plugin;
#   - the same build installed into a temporary prefix runs the demo with the build folder moved aside.
# Prints the package's file name and Depends line. Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh release
build=build-release
aside="$build.moved-aside"
scratch=$(realpath "$(mktemp -d)")
trap '[ -d "$aside" ] && mv "$aside" "$build"; rm -rf "$scratch"' EXIT

rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log" >&2; exit 1; }
deb=$(ls "$build"/*.deb)
echo "package: $deb"
echo "package: Depends: $(dpkg-deb -f "$deb" Depends)"

status=0
findings=$(lintian --fail-on error "$deb" 2>&1) || status=$?
# As root lintian always warns about running as root; that says nothing about the package.
grep -v '^running with root privileges' <<<"$findings" | sed 's/^/lintian: /' || true
[ "$status" -eq 0 ] || { echo "package: lintian reports errors" >&2; exit 1; }

# Runs `hcs demo` of a tree: it must load the plugin of that same tree and score every pair but the one
# the demo leaves without a callout on purpose.
demo_from() {
  local tree="$1" what="$2" out problem=""
  out=$("$tree/bin/hcs" demo 2>&1) || problem="hcs demo failed"
  grep -q "^plugin $tree/" <<<"$out" || problem="${problem:-hcs did not load the plugin next to it}"
  [ "$(grep -c 'error:' <<<"$out")" -eq 1 ] || problem="${problem:-some pairs were not scored}"
  if [ -n "$problem" ]; then
    echo "$out"
    echo "package: from $what: $problem" >&2
    return 1
  fi
  echo "package: hcs demo from $what: $(sed -n 's/^plugin //p' <<<"$out"), $(grep -c '^[0-9]' <<<"$out") rows"
}

dpkg -x "$deb" "$scratch/unpacked"
demo_from "$scratch/unpacked/usr" "the unpacked package"

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
mv "$build" "$aside"
demo_from "$scratch/prefix" "an install tree, build folder moved aside"
mv "$aside" "$build"
