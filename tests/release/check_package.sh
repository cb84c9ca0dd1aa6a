#!/usr/bin/env bash
# The package a player downloads, or the companion kit: exactly its files, its DLL the very DLL
# the Windows tests ran against, SHA256SUMS true of what is inside, and no dead link in its
# Markdown: every link goes to a web address, a heading or a file in the zip, and every path
# of the source repository it names is said to be there.
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
  # the readers without their tests, every recording and scenario without the script that
  # makes them
  expected=$( (printf '%s\n' CHANGELOG.md LICENSE QAV.dll SHA256SUMS drive.scenario hostsim.exe \
      hostsim.md pacing.png selftest.cmd telemetry.md telemetry.schema.json
    cd "$source" && find readers docs/recordings -type f ! -path '*test*' ! -name CMakeLists.txt \
      ! -name make.sh ! -path '*__pycache__*' | sed 's|^docs/||') | LC_ALL=C sort)
else
  expected=$(printf '%s\n' BUILDINFO.txt CHANGELOG.md INSTALL.txt LICENSE QAV.dll SHA256SUMS \
    telemetry.md telemetry.schema.json)
fi
listing=$(cd "$work" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
echo "in $zip: $(echo $listing)"
[ "$listing" = "$expected" ] || fail "the package must hold exactly: $(echo $expected)"
if [ -f "$work/QAV.dll" ]; then
  cmp -s "$work/QAV.dll" "$tested" || fail "its QAV.dll is not the DLL the tests ran against"
fi
if [ -f "$work/SHA256SUMS" ]; then
  (cd "$work" && sha256sum -c --strict SHA256SUMS) || fail "SHA256SUMS does not verify"
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
      print "$ARGV: names $1 as if it were in the zip\n" if -f "$ENV{SOURCE}/$1";
    }' "$(basename "$md")") > "$work/links"
  if [ -s "$work/links" ]; then fail "$(cat "$work/links")"; fi
done
[ $status -eq 0 ] && echo "package good"
exit $status
