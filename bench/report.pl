#!/usr/bin/perl
# Prints what bench/run.sh measured: the median of every command over all its
# timed runs, its ratios to the floor and to `find -type f` on the same tree,
# its peak memory, the system calls of packhound -so and of the floor, and
# whether each target is met.
#
#   report.pl MEASURES ROUND.json...
use strict;
use warnings;
use JSON::PP;

my ($measuresFile, @roundFiles) = @ARGV;
die "usage: $0 MEASURES ROUND.json...\n" unless @roundFiles;

sub median {
  my @sorted = sort { $a <=> $b } @_;
  my $middle = int(@sorted / 2);
  return @sorted % 2 ? $sorted[$middle] : ($sorted[$middle - 1] + $sorted[$middle]) / 2;
}

# Every time of every command, and per round the median time of each command.
my (%times, @order, @rounds);
for my $file (@roundFiles) {
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
my %median = map { $_ => median(@{ $times{$_} }) } @order;

# The median over the rounds of a's time over b's in the same round.
sub ratio {
  my ($a, $b) = @_;
  return median(map { $_->{$a} / $_->{$b} } @rounds);
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
  scalar @rounds, scalar @{ $times{ $order[0] } };

for my $tree ('T1', 'T2') {
  print "\n$tree\n";
  printf "  %-26s %10s %9s %9s %10s\n", 'command', 'median', '/floor', '/find', 'peak';
  for my $name (grep { / \Q$tree\E$/ } @order) {
    (my $label = $name) =~ s/ \Q$tree\E$//;
    printf "  %-26s %7.1f ms %9.3f %9.3f %6d KiB\n", $label, $median{$name} * 1000,
      ratio($name, "floor $tree"), ratio($name, "find -type f $tree"), $memory{$name} // 0;
  }
}

print "\nSystem calls (strace -c -f)\n";
for my $tree ('t1', 't2') {
  my ($ours, $floor) = ($calls{"packhound $tree"}, $calls{"floor $tree"});
  printf "  %s  packhound -so %d, floor %d, ratio %.4f\n", uc $tree, $ours, $floor, $ours / $floor;
}

print "\nCompressed files counted\n";
my $countsAgree = 1;
for my $tree ('t1', 't2') {
  my ($ours, $floor) = @{ $count{$tree} };
  my $same = $ours ne '' && $ours eq $floor;
  $countsAgree &&= $same;
  printf "  %s  packhound %s, floor %s: %s\n", uc $tree, $ours, $floor, $same ? 'same' : 'DIFFERENT';
}

my $emptyPeak = $memory{'packhound -so (empty directory)'};
printf "\nPeak memory of packhound -so: %d KiB on an empty directory, %d on T2, %d on T1\n",
  $emptyPeak, $memory{'packhound -so T2'}, $memory{'packhound -so T1'};

my @targets = (
  ['packhound -so / floor, T1', ratio('packhound -so T1', 'floor T1'), 1.15],
  ['packhound -so / floor, T2', ratio('packhound -so T2', 'floor T2'), 1.10],
  map({
    my $tree = $_;
    (["packhound -so / lsattr -R, $tree", ratio("packhound -so $tree", "lsattr -R $tree"), 0.30],
     ["packhound -so / find -printf %s, $tree",
      ratio("packhound -so $tree", "find -printf %s $tree"), 0.80])
  } 'T1', 'T2'),
  ['packhound -su -nh -ns / floor, T1', ratio('packhound -su -nh -ns T1', 'floor T1'), 1.60],
  ['system calls, packhound -so / floor, T1', $calls{'packhound t1'} / $calls{'floor t1'}, 1.05],
  ['system calls, packhound -so / floor, T2', $calls{'packhound t2'} / $calls{'floor t2'}, 1.05],
);
print "\nTargets\n";
my $allMet = $countsAgree;
for my $target (@targets) {
  my ($what, $value, $limit) = @$target;
  my $met = $value <= $limit;
  $allMet &&= $met;
  printf "  %-42s %7.3f  <= %.2f  %s\n", $what, $value, $limit, $met ? 'met' : 'NOT MET';
}
for my $tree ('T1', 'T2') {
  my $excess = $memory{"packhound -so $tree"} - $memory{"floor $tree"};
  my $met = $excess <= 2048;
  $allMet &&= $met;
  printf "  %-42s %+6d KiB  <= +2048 KiB  %s\n", "peak memory, packhound -so - floor, $tree", $excess,
    $met ? 'met' : 'NOT MET';
}
# Not growing with the files: no more than a few pages above an empty walk.
my $growth = $memory{'packhound -so T1'} - $emptyPeak;
my $flat = $growth <= 256;
$allMet &&= $flat;
printf "  %-42s %+6d KiB  <= +256 KiB  %s\n", 'peak memory, packhound -so T1 - empty', $growth,
  $flat ? 'met' : 'NOT MET';
print "\n", $allMet ? "All targets met.\n" : "Some targets are NOT met.\n";
exit($allMet ? 0 : 1);
