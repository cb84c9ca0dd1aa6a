#!/usr/bin/env bash
# The package a player downloads, or the companion kit: exactly its files, its DLL the very DLL
# the Windows tests ran against, every program in it linked without a timestamp, its sum in the
# SHA256SUMS beside it, and no dead link in its Markdown: every link goes to a web address, a
# heading or a file in the zip, and every path of the source repository it names is said to be
# there.
#   check_package.sh dist/QAV-VERSION-windows-x64.zip TESTED/QAV.dll
#   check_package.sh dist/QAV-VERSION-companion-kit.zip TESTED/QAV.dll
set -euo pipefail
zip=$1
tested=$2
work=$(mktemp -d /tmp/qav-package-XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
fail() { echo "$1"; status=1; }

unzip -q "$zip" -d "$work"
source=$(cd "$(dirname "$0")/../.." && pwd)
if [[ $zip == *companion-kit.zip ]]; then
  # the readers and the live page without their tests, benchmarks and test-only lock file,
  # every recording and scenario without the script that makes them
  expected=$( (printf '%s\n' BUILDINFO.txt CHANGELOG.md LICENSE QAV.dll drive.scenario hostsim.exe \
      README.txt hostsim.md pacing.png selftest.cmd telemetry.md telemetry.schema.json
    cd "$source" && git ls-files readers dashboard docs/recordings | grep -v -e test -e bench \
      -e CMakeLists.txt -e make.sh -e .gitignore -e package-lock.json | sed 's|^docs/||') |
    LC_ALL=C sort)
else
  expected=$(printf '%s\n' BUILDINFO.txt CHANGELOG.md INSTALL.txt LICENSE QAV.dll telemetry.md \
    telemetry.schema.json)
fi
listing=$(cd "$work" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
echo "in $zip: $(echo $listing)"
[ "$listing" = "$expected" ] || fail "the package must hold exactly: $(echo $expected)"
if [ -f "$work/QAV.dll" ]; then
  cmp -s "$work/QAV.dll" "$tested" || fail "its QAV.dll is not the DLL the tests ran against"
fi
# A link timestamp would make every build of the same source a different zip. The PE header's
# offset is at 0x3C, its TimeDateStamp 8 bytes after the "PE\0\0" it starts with.
for program in $(cd "$work" && find . -name '*.exe' -o -name '*.dll'); do
  pe=$(od -An -tu4 -j 60 -N 4 "$work/$program" | tr -d ' ')
  signature=$(od -An -tx1 -j "$pe" -N 4 "$work/$program" | tr -d ' ')
  stamp=$(od -An -tu4 -j $((pe + 8)) -N 4 "$work/$program" | tr -d ' ')
  echo "$program: link timestamp $stamp"
  [ "$signature" = 50450000 ] || fail "$program: no PE header where its DOS header points"
  [ "$stamp" = 0 ] || fail "$program: linked with a timestamp"
done
sums=$(dirname "$zip")/SHA256SUMS
if [ -f "$sums" ]; then
  (cd "$(dirname "$zip")" && sha256sum -c --strict SHA256SUMS) || fail "$sums does not verify"
  grep -q "  $(basename "$zip")\$" "$sums" || fail "$sums has no sum of $(basename "$zip")"
else
  fail "no SHA256SUMS beside $zip"
fi
for md in $(cd "$work" && find . -name '*.md'); do
  (cd "$work/$(dirname "$md")" && SOURCE=$source perl -ne '
    BEGIN { $/ = undef }
    my %anchors;
    for (m{^#+ +(.*)$}mg) { (my $a = lc) =~ s/[^a-z0-9 -]//g; $a =~ tr/ /-/; $anchors{$a} = 1 }
    while (m{\]\(([^)\s]+)\)}g) {
      my $target = $1;
      my ($file, $anchor) = $target =~ m{^([^#]*)#?(.*)$};
      next if $file =~ m{^[a-z]+:};
      print "$ARGV: dead link ($target)\n"
        if ($file ne "" && !-f $file) || ($file eq "" && !$anchors{$anchor});
    }
    while (m{`[^`\n]*?([^`\s]+/[^`\s]+)`(?! in the source repository)}g) {
      print "$ARGV: names $1 as if it were in the zip\n" if -f "$ENV{SOURCE}/$1" && !-e $1;
    }' "$(basename "$md")") > "$work/links"
  if [ -s "$work/links" ]; then fail "$(cat "$work/links")"; fi
done
[ $status -eq 0 ] && echo "package good"
exit $status
