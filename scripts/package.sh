#!/usr/bin/env bash
# Builds the release QAV.dll and hostsim.exe (the windows preset) and writes the package a
# player downloads: DIR/QAV-VERSION-windows-x64.zip (DIR is dist unless given) with the DLL,
# INSTALL.txt, the reader's guide and schema, LICENSE, CHANGELOG.md and BUILDINFO.txt; the
# companion kit for those who write a reader, DIR/QAV-VERSION-companion-kit.zip: README.txt, the DLL,
# hostsim.exe and selftest.cmd, the guide, the schema, hostsim's manual, built-in drive and
# pacing picture, the reference readers, the recordings, LICENSE, CHANGELOG.md and its own
# BUILDINFO.txt; and DIR/SHA256SUMS, the sums of both zips, to publish beside them. The version
# and INSTALL.txt come from the build, which takes them from the top of CMakeLists.txt.
#   package.sh [DIR]
# Each zip is the same bytes under any umask, time zone, locale and source folder, so that
# anyone can check a published zip against this source: see make_zip. BUILDINFO.txt names the
# commit, and the toolchain and zip program that give those bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-dist}
bash scripts/setup.sh

# The source, taken before anything is built or packed here: the commit, and whether the
# working tree is that commit alone. A change or a file git does not ignore makes it
# "modified", since the build or the kit's recordings may have picked it up. A source folder
# that is not itself a git checkout (an unpacked archive, even inside another repository) has
# no commit to name.
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ] &&
  commit=$(git rev-parse --verify HEAD) && changes=$(git status --porcelain); then
  if [ -z "$changes" ]; then tree=clean; else tree=modified; fi
else
  commit="unknown (not built from a git checkout)"
  tree=unknown
fi

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target QAV hostsim >/dev/null
build=build/windows
version=$(sed -n 's/^#define QAV_VERSION "\(.*\)"$/\1/p' $build/generated/plugin/version.h)

# The source commit, and Debian's package versions: the same versions build the same
# programs from that commit's source, and the same zip packs them into the same zip.
#   write_buildinfo TITLE PROGRAMS
write_buildinfo() {
  printf 'QAV %s %s: what made %s and this zip\n\n' "$version" "$1" "$2"
  printf 'source commit: %s\n' "$commit"
  case $tree in
    clean) printf 'source tree:   clean, the commit exactly\n\n' ;;
    modified) printf 'source tree:   modified, with changes or files the commit does not have\n\n' ;;
    *) printf 'source tree:   unknown\n\n' ;;
  esac
  printf 'Built from that source with cmake --preset windows (Release) and packed by\n'
  printf 'scripts/package.sh in the source repository. With these Debian packages the same\n'
  printf 'source gives the same programs and the same zip, byte for byte, wherever it is built.\n\n'
  dpkg-query -W -f='${Package}\t${Version}\n' g++-mingw-w64-x86-64-win32 \
    gcc-mingw-w64-x86-64-win32-runtime binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev cmake zip |
    awk -F'\t' '{printf "%-36s %s\n", $1, $2}'
}

# Writes OUT/NAME.zip from FILES, each ZIPNAME=SOURCE, in the order given, its Markdown as
# scripts/kit_docs.pl rewrites it. Nothing of the machine that packs gets in: every file gets
# mode 0644 whatever the umask and the date 2000-01-01 00:00 UTC (zip stores local times, so
# it runs in UTC), the files go in in the order given, and zip -X stores no owner, no extra
# time stamps and no other attribute.
#   make_zip NAME ZIPNAME=SOURCE...
make_zip() {
  local name=$1 stage=$build/package/$1 file zipname names=()
  shift
  rm -rf "$stage"
  mkdir -p "$stage" "$out"
  for file in "$@"; do
    zipname=${file%%=*}
    mkdir -p "$(dirname "$stage/$zipname")"
    cp "${file#*=}" "$stage/$zipname"
    names+=("$zipname")
  done
  for file in "$@"; do
    zipname=${file%%=*}
    # The zipped Markdown never sends a reader to a file that is not in the zip.
    if [[ $zipname == *.md ]]; then
      perl scripts/kit_docs.pl rewrite "${file#*=}" "$stage/$zipname" "$zipname" "$@"
    fi
  done
  # Every command in its documents works from the unpacked zip: none names a file of the
  # source that the zip does not have, unless it says so.
  perl scripts/kit_docs.pl check "$stage" ||
    { echo "package.sh: $name's documents name files it does not have" >&2; exit 1; }
  find "$stage" -type f -exec chmod 0644 {} +
  find "$stage" -type f -exec touch -d '2000-01-01 00:00:00 UTC' {} +
  # -D: files only, no entries for their folders, which would carry the packing machine's
  # modes and times
  (cd "$stage" && TZ=UTC LC_ALL=C zip -q -X -D "$name.zip" "${names[@]}")
  mv "$stage/$name.zip" "$out/$name.zip"
  unzip -l "$out/$name.zip"
}

write_buildinfo "for Windows (64-bit)" QAV.dll > $build/package-buildinfo.txt
write_buildinfo "companion kit" "QAV.dll, hostsim.exe" > $build/kit-buildinfo.txt

# The kit: the readers' libraries, commands and manuals and the live page (not their tests,
# which need this source tree), and every recording with its scenario.
kit=()
for file in readers/README.md readers/c/qav_reader.h readers/c/qav_reader.c readers/c/main.c \
            readers/c/README.md readers/python/qav_reader.py readers/python/pyproject.toml \
            readers/python/README.md readers/js/qav-reader.js readers/js/qav-reader.d.ts \
            readers/js/package.json readers/js/README.md dashboard/README.md \
            dashboard/package.json dashboard/qav-dashboard.js dashboard/qav-dashboard.cmd \
            dashboard/server.js dashboard/page/* docs/recordings/README.md \
            docs/recordings/*.jsonl docs/recordings/*.scenario; do
  kit+=("${file#docs/}=$file")
done
make_zip "QAV-$version-companion-kit" \
  README.txt=docs/kit/README.txt \
  QAV.dll=$build/bin/QAV.dll hostsim.exe=$build/bin/hostsim.exe selftest.cmd=docs/kit/selftest.cmd \
  telemetry.md=docs/telemetry.md telemetry.schema.json=docs/telemetry.schema.json \
  hostsim.md=docs/hostsim.md drive.scenario=docs/drive.scenario pacing.png=docs/pacing.png \
  "${kit[@]}" LICENSE=LICENSE CHANGELOG.md=CHANGELOG.md BUILDINFO.txt=$build/kit-buildinfo.txt \
  >/dev/null

make_zip "QAV-$version-windows-x64" \
  QAV.dll=$build/bin/QAV.dll INSTALL.txt=$build/generated/INSTALL.txt \
  telemetry.md=docs/telemetry.md telemetry.schema.json=docs/telemetry.schema.json \
  LICENSE=LICENSE CHANGELOG.md=CHANGELOG.md BUILDINFO.txt=$build/package-buildinfo.txt

# The sums to publish beside the zips. Not inside them: a sum that comes in the same download
# as the zip proves nothing about that zip.
(cd "$out" && sha256sum "QAV-$version-companion-kit.zip" "QAV-$version-windows-x64.zip" > SHA256SUMS)
cat "$out/SHA256SUMS"
# The player's zip last: the test scripts take its path from the last line.
echo "$out/QAV-$version-windows-x64.zip"
