#!/usr/bin/perl
# Writes a reproducible benchmark tree: the same seed gives the same names,
# shape and compressed set on every machine with the same perl.
#
#   make_tree.pl ROOT DIRECTORIES FILES MAX_DEPTH COMPRESSED_PERCENT SEED [mixed]
#
# Creates ROOT (which must not exist) and everything below it, and prints the
# paths of the files to mark compressed, each ending in a NUL byte. The files
# are empty; with "mixed" they hold content, as a home or a source tree holds
# it, for a file system that compresses as it writes: 40% text
# (compressible), 25% noise (incompressible), 20% small text (stored inline),
# 10% empty, 5% text followed by noise, about 16 KiB on average.
use strict;
use warnings;

my ($root, $directoryCount, $fileCount, $maxDepth, $percent, $seed, $mixed) = @ARGV;
die "usage: $0 ROOT DIRECTORIES FILES MAX_DEPTH COMPRESSED_PERCENT SEED [mixed]\n"
  unless defined $seed;
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

# Pools the content of a mixed tree is cut from: text of words, and noise.
my $poolSize = 4 << 20;
my ($text, $noise) = ('', '');
if ($mixed) {
  my @words = map { join '', map { $alphabet[int(rand(26))] } 1 .. 2 + int(rand(8)) } 1 .. 2000;
  $text .= $words[int(rand(@words))] . (rand() < 0.1 ? "\n" : ' ') while length($text) < $poolSize;
  $noise = join '', map { pack('N', int(rand(4294967296))) } 1 .. $poolSize / 4;
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

sub cut {
  my ($pool, $size) = @_;
  return substr($$pool, int(rand($poolSize - $size)), $size);
}

# About 16 KiB on average, from 150 bytes to 100 KiB.
sub size { return int(exp(5 + rand(6.5))) }

sub content {
  my $kind = rand(100);
  return $kind < 40 ? cut(\$text, size())
       : $kind < 65 ? cut(\$noise, size())
       : $kind < 85 ? cut(\$text, 100 + int(rand(1900)))
       : $kind < 95 ? ''
       :              cut(\$text, size()) . cut(\$noise, size());
}

for (1 .. $fileCount) {
  my $directory = int(rand(@directories));
  my $path = "$root$directories[$directory]/" . fresh_name($directory);
  open(my $file, '>:raw', $path) or die "create $path: $!\n";
  print $file content() if $mixed;
  close $file;
  print "$path\0" if $percent > 0 && rand(100) < $percent;
}
