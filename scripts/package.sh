#!/usr/bin/env bash
# Builds the release QAV.dll and hostsim.exe (the windows preset) and writes the package a
# player downloads: DIR/QAV-VERSION-windows-x64.zip (DIR is dist unless given) with the DLL,
# INSTALL.txt, the reader's guide and schema, LICENSE, CHANGELOG.md and BUILDINFO.txt; the
# companion kit for those who write a reader, DIR/QAV-VERSION-companion-kit.zip: the DLL,
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
  printf 'scripts/package.sh. With these Debian packages the same source gives the same\n'
  printf 'programs and the same zip, byte for byte, wherever it is built.\n\n'
  dpkg-query -W -f='${Package}\t${Version}\n' g++-mingw-w64-x86-64-win32 \
    gcc-mingw-w64-x86-64-win32-runtime binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev cmake zip |
    awk -F'\t' '{printf "%-36s %s\n", $1, $2}'
}

# The zipped Markdown must not send a player to a file that is not in the zip: a relative link
# to a staged file is pointed at it (from the folder the Markdown is zipped in), and any other
# file it names by link or by a code span with a folder in it is named as a path in the source
# repository.
#   rewrite_links SOURCE.md STAGED.md ZIPNAME ZIPNAME=SOURCE...
rewrite_links() {
  local source=$1 staged=$2 zipname=$3
  shift 3
  SOURCE=$source ZIPDIR=$(dirname "$zipname") perl -i -pe '
    BEGIN {
      %zipped = map { my ($n, $s) = split /=/, $_, 2; ($s => $n) } splice @ARGV, 1;
      ($dir = $ENV{SOURCE}) =~ s{[^/]*$}{};
    }
    sub repo_path {
      my @parts;
      for (split m{/}, $dir . $_[0]) { $_ eq ".." ? pop @parts : push @parts, $_ }
      join "/", @parts;
    }
    # The zipped file `to` as its folder `from` in the zip names it.
    sub relative {
      my @to = split m{/}, $_[0];
      my @from = grep { $_ ne "." } split m{/}, $_[1];
      while (@to > 1 && @from && $to[0] eq $from[0]) { shift @to; shift @from }
      join "/", ("..") x @from, @to;
    }
    sub elsewhere { "`$_[0]` in the source repository" }
    s{(!?)\[([^\]]*)\]\(([^)\s]+)\)|`([^`]+)`}{
      my ($bang, $text, $target, $code) = ($1, $2, $3, $4);
      if (defined $code) {
        my ($path) = $code =~ m{(\S+/\S+)$};
        $path && -f $path && !$zipped{$path} ? elsewhere($code) : "`$code`";
      } elsif ($target =~ m{^(#|[a-z]+:)}) {
        "$bang\[$text\]($target)";
      } else {
        my ($file, $anchor) = $target =~ m{^([^#]*)(#.*)?$};
        my $path = repo_path($file);
        if ($zipped{$path}) {
          "$bang\[$text\](" . relative($zipped{$path}, $ENV{ZIPDIR}) . ($anchor // "") . ")";
        }
        elsif ($bang) { "$text: " . elsewhere($path) }
        elsif ($text =~ m{^`[^`/]*`$}) { elsewhere($path) }
        else { "$text (" . elsewhere($path) . ")" }
      }
    }ge' "$staged" "$@"
}

# Writes OUT/NAME.zip from FILES, each ZIPNAME=SOURCE, in the order given. Nothing of the
# machine that packs gets in: every file gets mode 0644 whatever the umask and the date
# 2000-01-01 00:00 UTC (zip stores local times, so it runs in UTC), the files go in in the
# order given, and zip -X stores no owner, no extra time stamps and no other attribute.
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
    if [[ $zipname == *.md ]]; then rewrite_links "${file#*=}" "$stage/$zipname" "$zipname" "$@"; fi
  done
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

# The kit: the readers' libraries, commands and manuals (not their tests, which need this
# source tree), and every recording with its scenario.
kit=()
for file in readers/README.md readers/c/qav_reader.h readers/c/qav_reader.c readers/c/main.c \
            readers/c/README.md readers/python/qav_reader.py readers/python/pyproject.toml \
            readers/python/README.md readers/js/qav-reader.js readers/js/package.json \
            readers/js/README.md docs/recordings/README.md docs/recordings/*.jsonl \
            docs/recordings/*.scenario; do
  kit+=("${file#docs/}=$file")
done
make_zip "QAV-$version-companion-kit" \
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
