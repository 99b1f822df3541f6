#!/usr/bin/perl
# Writes a tree LEVELS directories deep, each named by its level in ten
# characters (d000000001 ...), with an empty file every hundred levels. Each
# directory is made from the one above it, so that the chain may run far past
# the longest path the kernel takes in one call.
#
#   make_deep.pl ROOT LEVELS
use strict;
use warnings;

my ($root, $levels) = @ARGV;
die "usage: $0 ROOT LEVELS\n" unless defined $levels;
mkdir $root or die "mkdir $root: $!\n";
chdir $root or die "chdir $root: $!\n";
for my $level (1 .. $levels) {
  my $name = sprintf('d%09d', $level);
  mkdir $name or die "mkdir at level $level: $!\n";
  chdir $name or die "chdir at level $level: $!\n";
  if ($level % 100 == 0) {
    open(my $file, '>', 'f') or die "file at level $level: $!\n";
    close $file;
  }
}
