#!/usr/bin/perl
# Writes a reproducible tree of files with content, as a home or a source
# tree holds them, for a file system that compresses as it writes: the same
# seed gives the same names, sizes and bytes.
#
#   make_mixed.pl ROOT DIRECTORIES FILES MAX_DEPTH SEED
#
# Of the files: 40% text (compressible), 25% noise (incompressible), 20%
# small text (stored inline), 10% empty, 5% text followed by noise. Sizes
# spread from 150 bytes to 100 KiB, about 16 KiB on
# average.
use strict;
use warnings;

my ($root, $directoryCount, $fileCount, $maxDepth, $seed) = @ARGV;
die "usage: $0 ROOT DIRECTORIES FILES MAX_DEPTH SEED\n" unless defined $seed;
srand($seed);

my @alphabet = ('a' .. 'z', '0' .. '9', '_', '-');
my %taken;

sub fresh_name {
  my ($parent) = @_;
  while (1) {
    my $name = join '', map { $alphabet[int(rand(@alphabet))] } 1 .. 6 + int(rand(15));
    return $name unless $taken{"$parent\0$name"}++;
  }
}

# Pools the files are cut from: text of words, and noise from the seed.
my $poolSize = 4 << 20;
my @words = map { join '', map { $alphabet[int(rand(26))] } 1 .. 2 + int(rand(8)) } 1 .. 2000;
my $text = '';
$text .= $words[int(rand(@words))] . (rand() < 0.1 ? "\n" : ' ') while length($text) < $poolSize;
my $noise = join '', map { pack('N', int(rand(4294967296))) } 1 .. $poolSize / 4;

sub cut {
  my ($pool, $size) = @_;
  return substr($$pool, int(rand($poolSize - $size)), $size);
}

# About 16 KiB on average, from 150 bytes to 100 KiB.
sub size { return int(exp(5 + rand(6.5))) }

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
  my $kind = rand(100);
  my $content = $kind < 40 ? cut(\$text, size())
              : $kind < 65 ? cut(\$noise, size())
              : $kind < 85 ? cut(\$text, 100 + int(rand(1900)))
              : $kind < 95 ? ''
              :              cut(\$text, size()) . cut(\$noise, size());
  open(my $file, '>:raw', $path) or die "create $path: $!\n";
  print $file $content;
  close $file;
}
