#!/usr/bin/env bash
# Anyone must be able to rebuild the zips we publish from the commit their BUILDINFO.txt names,
# or nobody can check a published zip against its source. Clones this repository at its
# current commit twice, into folders of different names and lengths (one with a space), and
# builds and packs each clone from scratch under its own umask, time zone and locale (no
# compiler cache, which could hide a build that differs). The player's zip, the companion kit
# and SHA256SUMS must be the same bytes from both, their BUILDINFO.txt must name that commit
# and a clean tree, and so must DIST, packed here, when this tree is that commit exactly.
# Then a change to one clone must show in its BUILDINFO.txt as a modified tree.
#   zip_reproducible.sh DIST
set -euo pipefail
given=$(cd "$1" && pwd)
source=$(cd "$(dirname "$0")/../.." && pwd)
commit=$(git -C "$source" rev-parse --verify HEAD)
work=$(mktemp -d /tmp/qav-rebuild-XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "$1"; status=1; }

# folder | umask | TZ | LC_ALL
builds=(
  "a|077|JST-9|C"
  "second copy of the source|022|NST+3:30|C.UTF-8"
)
dists=()
for row in "${builds[@]}"; do
  IFS='|' read -r folder mask zone locale <<<"$row"
  tree=$work/$folder
  echo "building $commit in '$tree' (umask $mask, TZ=$zone, LC_ALL=$locale)"
  start=$SECONDS
  (
    umask "$mask"
    unset CMAKE_C_COMPILER_LAUNCHER CMAKE_CXX_COMPILER_LAUNCHER
    git clone -q --no-checkout "$source" "$tree"
    git -C "$tree" checkout -q --detach "$commit"
    TZ=$zone LC_ALL=$locale bash "$tree/scripts/package.sh" >"$work/$mask.log" 2>&1
  ) || { cat "$work/$mask.log"; exit 1; }
  echo "  built and packed in $((SECONDS - start)) s"
  dists+=("$tree/dist")
done

# The tree's state the given zips were packed from, as package.sh takes it.
[ -z "$(git -C "$source" status --porcelain)" ] && dists+=("$given") ||
  echo "not compared with $given: this tree has changes its commit does not have"

for name in $(cd "${dists[0]}" && ls); do
  for dist in "${dists[@]}"; do
    [ -f "$dist/$name" ] && sha256sum "$dist/$name" || fail "$dist has no $name"
  done > "$work/sums"
  cat "$work/sums"
  [ "$(cut -d' ' -f1 "$work/sums" | sort -u | wc -l)" -eq 1 ] && continue
  fail "$name differs between builds"
  # which files differ between the two clean builds
  [[ $name == *.zip ]] || continue
  unzip -q "${dists[0]}/$name" -d "$work/x-$name" && unzip -q "${dists[1]}/$name" -d "$work/y-$name"
  diff -rq "$work/x-$name" "$work/y-$name" && echo "  the same files: the zip's own records differ"
done

# What each zip's BUILDINFO.txt says of its source.
source_of() {
  unzip -p "$1" BUILDINFO.txt | sed -n 's/^source commit: *//p; s/^source tree: *\([a-z]*\).*/\1/p' |
    paste -sd' '
}
for zip in "${dists[0]}"/*.zip; do
  [ "$(source_of "$zip")" = "$commit clean" ] ||
    fail "$(basename "$zip") names '$(source_of "$zip")', not '$commit clean'"
done

# A clone with a change the commit does not have: a file of the commit's changed, or one
# added that the kit would pack (every recording goes in).
clone=$work/${builds[1]%%|*}
changes=(
  "echo >> README.md"
  "echo '{}' > docs/recordings/extra.jsonl"
)
for change in "${changes[@]}"; do
  (cd "$clone" && git checkout -q -- . && git clean -qfd docs && eval "$change" &&
    bash scripts/package.sh >"$work/changed.log" 2>&1) || { cat "$work/changed.log"; exit 1; }
  for zip in "$clone"/dist/*.zip; do
    [ "$(source_of "$zip")" = "$commit modified" ] ||
      fail "after '$change', $(basename "$zip") names '$(source_of "$zip")', not '$commit modified'"
  done
done

[ $status -eq 0 ] && echo "identical, and each names its commit"
exit $status
