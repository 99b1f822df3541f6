#!/usr/bin/perl
# Prints what bench/run.sh measured: the median of every command over all its
# timed runs, its ratios to the floor, to `find -type f` and to the faster of
# bfs and fdfind on the same tree, its peak memory, the cold-cache and deep
# tree runs, the system calls of packhound -so and of the floor, and whether
# each target is met.
#
#   report.pl MEASURES RESULTS_FOLDER
use strict;
use warnings;
use JSON::PP;

my ($measuresFile, $resultsFolder) = @ARGV;
die "usage: $0 MEASURES RESULTS_FOLDER\n" unless defined $resultsFolder;

sub median {
  my @sorted = sort { $a <=> $b } @_;
  my $middle = int(@sorted / 2);
  return @sorted % 2 ? $sorted[$middle] : ($sorted[$middle - 1] + $sorted[$middle]) / 2;
}

# Rounds of hyperfine exports: every time of every command, and per round
# the median time of each.
sub read_rounds {
  my @files = @_;
  my (%times, @order, @rounds);
  for my $file (@files) {
    open(my $in, '<', $file) or die "$file: $!\n";
    my $round = decode_json(do { local $/; <$in> });
    my %inRound;
    for my $result (@{ $round->{results} }) {
      my $name = $result->{command};
      push @order, $name unless $times{$name};
      push @{ $times{$name} }, @{ $result->{times} };
      $inRound{$name} = median(@{ $result->{times} });
    }
    push @rounds, \%inRound;
  }
  return { times => \%times, order => \@order, rounds => \@rounds };
}

my $warm = read_rounds(glob("$resultsFolder/round-*.json"));
my $deep = read_rounds(glob("$resultsFolder/deep-*.json"));
my @coldFiles = glob("$resultsFolder/cold-*.json");
my $cold = @coldFiles ? read_rounds(@coldFiles) : undef;
my @btrfsFiles = glob("$resultsFolder/btrfs-*.json");
my $btrfs = @btrfsFiles ? read_rounds(@btrfsFiles) : undef;
my @ntfsFiles = glob("$resultsFolder/ntfs-*.json");
my $ntfs = @ntfsFiles ? read_rounds(@ntfsFiles) : undef;

sub median_time {
  my ($set, $name) = @_;
  return median(@{ $set->{times}{$name} });
}

# The median over the rounds of a's time over b's in the same round; b may
# name several commands, of which each round takes the fastest.
sub ratio {
  my ($set, $numerator, @denominators) = @_;
  return median(map {
    my $round = $_;
    my ($fastest) = sort { $a <=> $b } map { $round->{$_} } @denominators;
    $round->{$numerator} / $fastest
  } @{ $set->{rounds} });
}

my (%memory, %calls, %count, @about);
open(my $in, '<', $measuresFile) or die "$measuresFile: $!\n";
while (<$in>) {
  chomp;
  if (/^memory (.+) (\d+)$/) { $memory{$1} = $2 }
  elsif (/^calls (\S+) (\S+) (\d+)$/) { $calls{"$1 $2"} = $3 }
  elsif (/^count (\S+) packhound=(\d*) floor=(\d*)$/) { $count{$1} = [$2, $3] }
  else { push @about, $_ }
}

print "\n";
print "  $_\n" for @about;
printf "  %d rounds, %d warm runs per command; ratios are medians of the per-round ratios\n",
  scalar @{ $warm->{rounds} }, scalar @{ $warm->{times}{ $warm->{order}[0] } };

for my $tree ('T1', 'T2') {
  print "\n$tree\n";
  printf "  %-30s %10s %9s %9s %9s %10s\n", 'command', 'median', '/floor', '/find', '/bfs|fd',
    'peak';
  for my $name (grep { / \Q$tree\E$/ } @{ $warm->{order} }) {
    (my $label = $name) =~ s/ \Q$tree\E$//;
    printf "  %-30s %7.1f ms %9.3f %9.3f %9.3f %6d KiB\n", $label,
      median_time($warm, $name) * 1000, ratio($warm, $name, "floor $tree"),
      ratio($warm, $name, "find -type f $tree"),
      ratio($warm, $name, "bfs -printf %s $tree", "fdfind -S -1m $tree"), $memory{$name} // 0;
  }
}

if ($cold) {
  printf "\nT1, cold cache (%d rounds, the page cache dropped before every run)\n",
    scalar @{ $cold->{rounds} };
  printf "  %-30s %10s %9s %9s\n", 'command', 'median', '/floor', '/find';
  for my $name (@{ $cold->{order} }) {
    (my $label = $name) =~ s/ T1 cold$//;
    printf "  %-30s %7.1f ms %9.3f %9.3f\n", $label, median_time($cold, $name) * 1000,
      ratio($cold, $name, 'floor T1 cold'), ratio($cold, $name, 'find -type f T1 cold');
  }
} else {
  print "\nT1, cold cache: skipped (dropping the page cache needs root)\n";
}

if ($btrfs) {
  printf "\nbtrfs, compress=zstd, warm (%d rounds)\n", scalar @{ $btrfs->{rounds} };
  printf "  %-36s %10s %9s %10s %10s\n", 'command', 'median', '/floor', '/compsize', 'peak';
  for my $name (@{ $btrfs->{order} }) {
    (my $label = $name) =~ s/ B$//;
    printf "  %-36s %7.1f ms %9.3f %10.3f %6d KiB\n", $label, median_time($btrfs, $name) * 1000,
      ratio($btrfs, $name, 'floor --extents B'), ratio($btrfs, $name, 'compsize B'),
      $memory{$name} // 0;
  }
} else {
  print "\nbtrfs: skipped (making and mounting a file system needs root)\n";
}

if ($ntfs) {
  printf "\nNTFS through ntfs-3g, warm (%d rounds)\n", scalar @{ $ntfs->{rounds} };
  printf "  %-36s %10s %10s %10s\n", 'command', 'median', '/getfattr', 'peak';
  for my $name (@{ $ntfs->{order} }) {
    (my $label = $name) =~ s/ N$//;
    printf "  %-36s %7.1f ms %10.3f %6d KiB\n", $label, median_time($ntfs, $name) * 1000,
      ratio($ntfs, $name, 'getfattr -R N'), $memory{$name} // 0;
  }
} else {
  print "\nNTFS: skipped (mounting ntfs-3g needs root and FUSE)\n";
}

printf "\nThe deep tree (%d rounds)\n", scalar @{ $deep->{rounds} };
printf "  %-30s %10s %9s %10s\n", 'command', 'median', '/find', 'peak';
for my $name (@{ $deep->{order} }) {
  (my $label = $name) =~ s/ deep$//;
  printf "  %-30s %7.0f ms %9.2f %6d KiB\n", $label, median_time($deep, $name) * 1000,
    ratio($deep, $name, 'find -type f deep'), $memory{$name} // 0;
}

print "\nSystem calls (strace -c -f)\n";
for my $tree ('t1', 't2') {
  printf "  %s  packhound -so %d, with one thread %d, floor %d\n", uc $tree,
    $calls{"packhound $tree"}, $calls{"packhound1 $tree"}, $calls{"floor $tree"};
}

print "\nCompressed files counted\n";
my $countsAgree = 1;
for my $tree ('t1', 't2', $btrfs ? ('btrfs') : (), $ntfs ? ('ntfs') : ()) {
  my ($ours, $floor) = @{ $count{$tree} };
  my $same = $ours ne '' && $ours eq $floor;
  $countsAgree &&= $same;
  printf "  %s  packhound %s, floor %s: %s\n", uc $tree, $ours, $floor, $same ? 'same' : 'DIFFERENT';
}

my $emptyPeak = $memory{'packhound -so (empty directory)'};
printf "\nPeak memory of packhound -so: %d KiB on an empty directory, %d on T2, %d on T1;"
  . " with one thread %d, %d, %d\n", $emptyPeak, $memory{'packhound -so T2'},
  $memory{'packhound -so T1'}, $memory{'packhound -so, 1 thread (empty directory)'},
  $memory{'packhound -so, 1 thread T2'}, $memory{'packhound -so, 1 thread T1'};

my @targets = (
  ['packhound -so / floor, T1', ratio($warm, 'packhound -so T1', 'floor T1'), 0.65],
  ['packhound -so / floor, T2', ratio($warm, 'packhound -so T2', 'floor T2'), 0.75],
  ['packhound -so / find -type f, T1', ratio($warm, 'packhound -so T1', 'find -type f T1'), 0.85],
  ['packhound -so / faster of bfs, fdfind, T1',
   ratio($warm, 'packhound -so T1', 'bfs -printf %s T1', 'fdfind -S -1m T1'), 0.55],
  $cold ? (['packhound -so / floor, T1, cold', ratio($cold, 'packhound -so T1 cold', 'floor T1 cold'),
            0.65])
        : (),
  ['packhound -su -nh -ns / floor, T1', ratio($warm, 'packhound -su -nh -ns T1', 'floor T1'), 1.00],
  ['packhound --extents -so / packhound -so, T1',
   ratio($warm, 'packhound --extents -so T1', 'packhound -so T1'), 1.05],
  $btrfs ? (['packhound --extents -so / compsize, btrfs',
             ratio($btrfs, 'packhound --extents -so B', 'compsize B'), 0.75],
            ['packhound --extents -so / floor --extents, btrfs',
             ratio($btrfs, 'packhound --extents -so B', 'floor --extents B'), 0.70])
         : (),
  $ntfs ? (['packhound -so / getfattr -R, NTFS', ratio($ntfs, 'packhound -so N', 'getfattr -R N'),
            1.00])
        : (),
  ['packhound -so / find -type f, deep', ratio($deep, 'packhound -so deep', 'find -type f deep'),
   3.00],
  ['system calls, 1 thread / floor, T1', $calls{'packhound1 t1'} / $calls{'floor t1'}, 1.05],
  ['system calls, 1 thread / floor, T2', $calls{'packhound1 t2'} / $calls{'floor t2'}, 1.05],
);
print "\nTargets\n";
my $allMet = $countsAgree;
for my $target (@targets) {
  my ($what, $value, $limit) = @$target;
  my $met = $value <= $limit;
  $allMet &&= $met;
  printf "  %-46s %7.3f  <= %.2f  %s\n", $what, $value, $limit, $met ? 'met' : 'NOT MET';
}
# The read-ahead's window is bounded: at most 16 MiB over the walk on one
# thread, and no more on the large tree than on an empty directory.
my @memoryTargets = (
  ['peak memory, threads - 1 thread, T1',
   $memory{'packhound -so T1'} - $memory{'packhound -so, 1 thread T1'}],
  ['peak memory, threads - 1 thread, T2',
   $memory{'packhound -so T2'} - $memory{'packhound -so, 1 thread T2'}],
  ['peak memory, T1 - empty directory', $memory{'packhound -so T1'} - $emptyPeak],
);
for my $target (@memoryTargets) {
  my ($what, $excess) = @$target;
  my $met = $excess <= 16384;
  $allMet &&= $met;
  printf "  %-46s %+6d KiB  <= +16384 KiB  %s\n", $what, $excess, $met ? 'met' : 'NOT MET';
}
print "\n", $allMet ? "All targets met.\n" : "Some targets are NOT met.\n";
exit($allMet ? 0 : 1);
