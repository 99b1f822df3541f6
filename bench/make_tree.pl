#!/usr/bin/perl
# Writes a reproducible benchmark tree: the same seed gives the same names,
# shape and compressed set on every machine with the same perl.
#
#   make_tree.pl ROOT DIRECTORIES FILES MAX_DEPTH COMPRESSED_PERCENT SEED
#
# Creates ROOT (which must not exist) and everything below it, and prints the
# paths of the files to mark compressed, each ending in a NUL byte.
use strict;
use warnings;

my ($root, $directoryCount, $fileCount, $maxDepth, $percent, $seed) = @ARGV;
die "usage: $0 ROOT DIRECTORIES FILES MAX_DEPTH COMPRESSED_PERCENT SEED\n" unless defined $seed;
srand($seed);

my @alphabet = ('a' .. 'z', '0' .. '9', '_', '-');
my %taken;    # "parent\0name" of every name in use

# A name of 6 to 20 characters not yet used in that directory.
sub fresh_name {
  my ($parent) = @_;
  while (1) {
    my $length = 6 + int(rand(15));
    my $name = join '', map { $alphabet[int(rand(@alphabet))] } 1 .. $length;
    next if $taken{"$parent\0$name"}++;
    return $name;
  }
}

mkdir $root or die "mkdir $root: $!\n";
my @directories = ('');
my @depth = (0);
for (2 .. $directoryCount) {
  my $parent;
  do { $parent = int(rand(@directories)) } while $depth[$parent] >= $maxDepth;
  my $path = $directories[$parent] . '/' . fresh_name($parent);
  mkdir "$root$path" or die "mkdir $root$path: $!\n";
  push @directories, $path;
  push @depth, $depth[$parent] + 1;
}

for (1 .. $fileCount) {
  my $directory = int(rand(@directories));
  my $path = "$root$directories[$directory]/" . fresh_name($directory);
  open(my $file, '>', $path) or die "create $path: $!\n";
  close $file;
  print "$path\0" if rand(100) < $percent;
}
