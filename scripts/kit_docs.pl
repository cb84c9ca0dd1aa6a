#!/usr/bin/env perl
# The documents of a zip as it holds them: a reader who unpacked it must never be sent to a
# file that is not in it, nor given a command that names one. Run from the source's root.
#
#   kit_docs.pl rewrite SOURCE.md STAGED.md ZIPNAME ZIPNAME=SOURCE...
#     rewrites STAGED.md (SOURCE.md as the zip holds it under ZIPNAME) in place: a relative
#     link to a zipped file points at it from ZIPNAME's folder; a path in code (a code span or
#     an indented command line) that names a zipped file or folder becomes its name in the zip,
#     as a command run from the zip's root gives it; any other file or folder of the source
#     named there is said to be "in the source repository".
#   kit_docs.pl check STAGE
#     fails, naming each, for a path in the code of STAGE's .md and .txt files that names a
#     file or folder of the source which STAGE does not have, on a line that does not say it
#     is in the source repository, and for a relative link to a file STAGE does not have.
use strict;
use warnings;

my $ELSEWHERE = 'in the source repository';
# A relative path with a folder in it: "docs/hostsim.md", "./readers/js", "recordings\x.jsonl".
my $PATH = qr{(?<![\w/\\%\$.-])((?:\.[/\\])?[\w-][\w.-]*(?:[/\\][\w.-]+)+[/\\]?)};

sub clean { my $p = shift; $p =~ s{\\}{/}g; $p =~ s{^\./}{}; $p =~ s{/$}{}; $p }

# The source's files and folders: what git tracks, so that what a build left in this tree
# does not change a zipped document; anything below build/ is made from the source. Outside
# a git checkout, whatever is here.
my %tracked;
for (`git ls-files 2>/dev/null`) {
    chomp;
    for (my $p = $_; $p ne ''; $p =~ s{/?[^/]*$}{}) { $tracked{$p} = 1 }
}
sub in_source {
    my $p = shift;
    return 1 if $p =~ m{^build/};
    return %tracked ? exists $tracked{$p} : -e $p;
}

# Whether the set of zipped names (a hash) holds the path as a file or as a folder of files.
sub holds {
    my ($names, $path) = @_;
    return 1 if $names->{$path};
    return scalar grep { index($_, "$path/") == 0 } keys %$names;
}

# The zip's name for a zipped file, or for a folder of zipped files (docs/recordings is
# recordings); undef for what is not zipped.
sub zip_name {
    my ($zipped, $p) = @_;
    return $zipped->{$p} if $zipped->{$p};
    for my $s (sort keys %$zipped) {
        next unless index($s, "$p/") == 0;
        my $rest = substr($s, length($p));
        my $n = $zipped->{$s};
        return substr($n, 0, -length($rest)) if substr($n, -length($rest)) eq $rest;
    }
    return undef;
}

# A code line's or span's paths: each zipped one renamed; whether any is the source's alone.
sub code_paths {
    my ($code, $zipped) = @_;
    my $source_only = 0;
    $code =~ s{$PATH}{
        my ($as, $p) = ($1, clean($1));
        my $n = zip_name($zipped, $p);
        $source_only = 1 if !defined $n && in_source($p);
        # "./readers/js" keeps its "./": npm takes "readers/js" for a repository's name
        my ($dot) = $as =~ m{^(\.[/\\])};
        defined $n ? ($dot // '') . $n . ($as =~ m{[/\\]$} ? '/' : '') : $as;
    }ge;
    return ($code, $source_only);
}

sub rewrite {
    my ($source, $staged, $zipname, @files) = @_;
    my %zipped;
    for (@files) {
        my ($n, $s) = split /=/, $_, 2;
        $zipped{$s} = $n;
    }
    (my $dir = $source) =~ s{[^/]*$}{};
    (my $zipdir = $zipname) =~ s{/?[^/]*$}{};
    my $repo_path = sub {
        my @parts;
        for (split m{/}, $dir . $_[0]) { $_ eq '..' ? pop @parts : push @parts, $_ }
        join '/', @parts;
    };
    my $relative = sub { # the zipped file $_[0] as the folder $zipdir names it
        my @to = split m{/}, $_[0];
        my @from = grep { $_ ne '.' } split m{/}, $zipdir;
        while (@to > 1 && @from && $to[0] eq $from[0]) { shift @to; shift @from }
        join '/', ('..') x @from, @to;
    };
    open my $in, '<', $staged or die "$staged: $!\n";
    my @lines = <$in>;
    close $in;
    my $fence = 0;
    for (@lines) {
        $fence = !$fence if /^```/;
        next if $fence;
        if (/^(?:    |\t)\S/) { # an indented command line
            chomp(my $line = $_);
            my ($code, $only) = code_paths($line, \%zipped);
            # a command of the source stays as the source has it, and says so
            $code = "$line   # $ELSEWHERE" if $only && index($line, $ELSEWHERE) < 0;
            $_ = "$code\n";
            next;
        }
        s{(!?)\[([^\]]*)\]\(([^)\s]+)\)|`([^`]+)`}{
            my ($bang, $text, $target, $code) = ($1, $2, $3, $4);
            if (defined $code) {
                my ($renamed, $only) = code_paths($code, \%zipped);
                $only ? "`$code` $ELSEWHERE" : "`$renamed`";
            } elsif ($target =~ m{^(#|[a-z]+:)}) {
                "$bang\[$text\]($target)";
            } else {
                my ($file, $anchor) = $target =~ m{^([^#]*)(#.*)?$};
                my $path = $repo_path->($file);
                if ($zipped{$path}) { "$bang\[$text\](" . $relative->($zipped{$path}) . ($anchor // '') . ')' }
                elsif ($bang) { "$text: `$path` $ELSEWHERE" }
                elsif ($text =~ m{^`[^`]*`$}) { "`$path` $ELSEWHERE" }
                else { "$text (`$path` $ELSEWHERE)" }
            }
        }ge;
    }
    open my $out, '>', $staged or die "$staged: $!\n";
    print $out @lines;
    close $out;
}

sub check {
    my ($stage) = @_;
    my %kit;
    my @docs;
    my @dirs = ($stage);
    while (@dirs) {
        my $d = shift @dirs;
        opendir my $h, $d or die "$d: $!\n";
        for my $e (grep { !/^\.\.?$/ } readdir $h) {
            my $p = "$d/$e";
            if (-d $p) { push @dirs, $p; next }
            (my $name = $p) =~ s{^\Q$stage\E/}{};
            $kit{$name} = 1;
            push @docs, $name if $name =~ /\.(md|txt)$/;
        }
    }
    my $wrong = 0;
    for my $doc (sort @docs) {
        open my $in, '<', "$stage/$doc" or die "$doc: $!\n";
        (my $dir = $doc) =~ s{[^/]*$}{};
        my $fence = 0;
        while (my $line = <$in>) {
            $fence = !$fence if $line =~ /^```/;
            next if index($line, $ELSEWHERE) >= 0;
            my @code = $line =~ /^(?:    |\t)\S/ || $fence || $doc =~ /\.txt$/ ? ($line) : $line =~ /`([^`]+)`/g;
            for my $code (@code) {
                while ($code =~ /$PATH/g) {
                    my $p = clean($1);
                    next unless in_source($p) && !holds(\%kit, $p);
                    print "$doc:$.: names $p, which this zip does not have\n";
                    $wrong++;
                }
            }
            while ($line =~ /\]\(([^)#\s:]+)(?:#[^)]*)?\)/g) {
                next if -e "$stage/$dir$1";
                print "$doc:$.: links to $1, which this zip does not have\n";
                $wrong++;
            }
        }
        close $in;
    }
    return $wrong ? 1 : 0;
}

my $mode = shift // '';
if ($mode eq 'rewrite' && @ARGV >= 3) { rewrite(@ARGV) }
elsif ($mode eq 'check' && @ARGV == 1) { exit check(@ARGV) }
else { die "usage: kit_docs.pl rewrite SOURCE STAGED ZIPNAME ZIPNAME=SOURCE... | check STAGE\n" }
