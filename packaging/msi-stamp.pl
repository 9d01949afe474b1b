#!/usr/bin/perl
# Sets, in place, what wixl takes from the clock and the random generator in an MSI's summary
# information: its creation and last-saved times and its revision number (the package code).
#   msi-stamp.pl FILE.msi UNIX-TIME {PACKAGE-CODE}
# The summary is a property set in the compound file's stream "\005SummaryInformation"; the new
# values have the old ones' sizes, so the bytes are overwritten where they lie and nothing moves.
use strict;
use warnings;

my ($path, $time, $code) = @ARGV;
die "usage: msi-stamp.pl FILE.msi UNIX-TIME {PACKAGE-CODE}\n"
    unless defined $code && $time =~ /^\d+$/ && $code =~ /^\{[0-9A-F-]{36}\}$/;

open(my $fh, '+<:raw', $path) or die "msi-stamp: $path: $!\n";
local $/;
my $file = <$fh>;

# The compound file's header, its sector chains, its directory.
die "msi-stamp: $path is not a compound file\n" unless substr($file, 0, 8) eq "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
my ($sector_shift, $mini_shift) = unpack('v v', substr($file, 0x1E, 4));
my ($fat_sectors, $first_dir, undef, $cutoff, $first_minifat, $minifat_sectors, undef, $difat_sectors) =
    unpack('V8', substr($file, 0x2C, 32));
die "msi-stamp: FAT beyond the header's list\n" if $difat_sectors != 0;
my $sector = 1 << $sector_shift;
my $mini = 1 << $mini_shift;
my $at = sub { 512 + $_[0] * $sector };
my @fat = map { unpack('V*', substr($file, $at->($_), $sector)) }
          grep { $_ != 0xFFFFFFFF } unpack('V109', substr($file, 0x4C, 436));
my $chain = sub {
    my ($start, $table) = @_;
    my @sectors;
    for (my $s = $start; $s < 0xFFFFFFFA; $s = $table->[$s]) { push @sectors, $s; }
    return @sectors;
};
my $directory = join '', map { substr($file, $at->($_), $sector) } $chain->($first_dir, \@fat);
my @minifat = map { unpack('V*', substr($file, $at->($_), $sector)) } $chain->($first_minifat, \@fat);
my @ministream = $chain->(unpack('V', substr($directory, 0x74, 4)), \@fat);   # the root entry holds it

# File offsets of the summary stream's bytes, one per byte.
my @offsets;
my $name = "\x05SummaryInformation";
for (my $e = 0; $e < length($directory); $e += 128) {
    my $entry = substr($directory, $e, 128);
    my $length = unpack('v', substr($entry, 0x40, 2));
    next unless $length == 2 * (length($name) + 1)
        && substr($entry, 0, $length - 2) eq join('', map { "$_\0" } split //, $name);
    my ($start, $size) = unpack('V V', substr($entry, 0x74, 8));
    if ($size < $cutoff) {
        for my $m ($chain->($start, \@minifat)) {
            my $pos = $m * $mini;
            my $base = $at->($ministream[int($pos / $sector)]) + $pos % $sector;
            push @offsets, $base .. $base + $mini - 1;
        }
    } else {
        for my $s ($chain->($start, \@fat)) { push @offsets, $at->($s) .. $at->($s) + $sector - 1; }
    }
    splice(@offsets, $size);
    last;
}
die "msi-stamp: no summary information in $path\n" unless @offsets;
my $stream = join '', map { substr($file, $_, 1) } @offsets;

# The property set: one section of (id, offset) pairs; values are typed.
my $section = unpack('V', substr($stream, 44, 4));
my $count = unpack('V', substr($stream, $section + 4, 4));
my $ticks = ($time + 11644473600) * 10_000_000;             # 100 ns since 1601
my $filetime = pack('V2', $ticks & 0xFFFFFFFF, $ticks >> 32);
my %changed;
for my $i (0 .. $count - 1) {
    my ($id, $offset) = unpack('V V', substr($stream, $section + 8 + 8 * $i, 8));
    my $value = $section + $offset;
    my $type = unpack('V', substr($stream, $value, 4));
    if (($id == 12 || $id == 13) && $type == 64) {          # created, last saved: FILETIME
        substr($stream, $value + 4, 8) = $filetime;
        $changed{$id} = 1;
    } elsif ($id == 9 && $type == 30) {                     # revision number: the package code
        my $length = unpack('V', substr($stream, $value + 4, 4));
        die "msi-stamp: the package code has another length\n" if $length != length($code) + 1;
        substr($stream, $value + 8, length($code)) = $code;
        $changed{$id} = 1;
    }
}
die "msi-stamp: summary information without times or package code\n" unless keys(%changed) == 3;

for my $i (0 .. $#offsets) {
    next if substr($stream, $i, 1) eq substr($file, $offsets[$i], 1);
    seek($fh, $offsets[$i], 0);
    print $fh substr($stream, $i, 1);
}
close($fh) or die "msi-stamp: $path: $!\n";
