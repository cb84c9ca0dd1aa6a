#!/usr/bin/env bash
# Builds the release QAV.dll and hostsim.exe (the windows preset) and writes the package a
# player downloads: DIR/QAV-VERSION-windows-x64.zip (DIR is dist unless given) with the DLL,
# INSTALL.txt, the reader's guide and schema, LICENSE, CHANGELOG.md, BUILDINFO.txt and
# SHA256SUMS; and the companion kit for those who write a reader,
# DIR/QAV-VERSION-companion-kit.zip: the DLL, hostsim.exe and selftest.cmd, the guide, the
# schema, hostsim's manual, built-in drive and pacing picture, the reference readers and the
# recordings. The version and INSTALL.txt come from the build, which takes them from the top
# of CMakeLists.txt.
#   package.sh [DIR]
# The zip is the same bytes under any umask, time zone and locale, so that anyone can check a
# published zip against this source: see make_zip. BUILDINFO.txt names the toolchain and zip
# program that give those bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-dist}
bash scripts/setup.sh

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$(nproc)" --target QAV hostsim >/dev/null
build=build/windows
version=$(sed -n 's/^#define QAV_VERSION "\(.*\)"$/\1/p' $build/generated/plugin/version.h)

# Debian's package versions: the same versions build the same QAV.dll from this source, and
# the same zip packs it into the same zip.
write_buildinfo() {
  printf 'QAV %s for Windows (64-bit): what made QAV.dll and this zip\n\n' "$version"
  printf 'QAV.dll is the Release build of the source of QAV %s (cmake --preset windows),\n' \
    "$version"
  printf 'packed by scripts/package.sh. With these Debian packages the same source gives the\n'
  printf 'same QAV.dll and the same zip, byte for byte, wherever it is built.\n\n'
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

# Writes OUT/NAME.zip from FILES, each ZIPNAME=SOURCE, in the order given, with SHA256SUMS
# last. Nothing of the machine that packs gets in: every file gets mode 0644 whatever the
# umask and the date 2000-01-01 00:00 UTC (zip stores local times, so it runs in UTC), the
# files go in in the order given, and zip -X stores no owner, no extra time stamps and no other
# attribute.
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
  (cd "$stage" && sha256sum "${names[@]}" > SHA256SUMS)
  names+=(SHA256SUMS)
  find "$stage" -type f -exec chmod 0644 {} +
  find "$stage" -type f -exec touch -d '2000-01-01 00:00:00 UTC' {} +
  # -D: files only, no entries for their folders, which would carry the packing machine's
  # modes and times
  (cd "$stage" && TZ=UTC LC_ALL=C zip -q -X -D "$name.zip" "${names[@]}")
  mv "$stage/$name.zip" "$out/$name.zip"
  unzip -l "$out/$name.zip"
  echo "$out/$name.zip" # last: the test scripts take the path from here
}

write_buildinfo > $build/package-buildinfo.txt

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
  "${kit[@]}" LICENSE=LICENSE CHANGELOG.md=CHANGELOG.md >/dev/null

# The player's zip last: the test scripts take its path from the last line.
make_zip "QAV-$version-windows-x64" \
  QAV.dll=$build/bin/QAV.dll INSTALL.txt=$build/generated/INSTALL.txt \
  telemetry.md=docs/telemetry.md telemetry.schema.json=docs/telemetry.schema.json \
  LICENSE=LICENSE CHANGELOG.md=CHANGELOG.md BUILDINFO.txt=$build/package-buildinfo.txt
