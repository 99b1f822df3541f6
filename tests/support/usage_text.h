// The usage text the tool prints, as the user reads it.
#pragma once

inline constexpr char kUsageText[] =
    "Packhound Version 1.0.1.2 By Mistlake\n"
    "\n"
    "Packhound [-u] [path] [-su] [-nr] [-nh] [[-ns] | [-so]] [-fp]\n"
    "  Where: \n"
    "     u\t\tPrints usage information, then exits.\n"
    "     path\tis the starting path (defaults to current working directory.)\n"
    "     nr\t\tNonRecursive search. (Default: OFF)\n"
    "     su\t\tspecifies a Search for Uncompressed files. (Default: OFF)\n"
    "     nh\t\tNo Header output. (Default: OFF)\n"
    "     ns\t\tNo Summary output. (Default: OFF)\n"
    "     so\t\tShow summary report Only (no file listing). (Default: OFF)\n"
    "     fp\t\tconvert path to Fully qualified Path. (Default: OFF)\n"
    "\n"
    "Made by Mistlake.\n";

// What "--help" prints after the usage text.
inline constexpr char kLongOptionsText[] =
    "\n"
    "Long options, written out in full, anywhere on the line:\n"
    "     --help\tPrints this usage information, then exits.\n"
    "     --version\tPrints the version line, then exits.\n"
    "     --extents\tAlso counts a file as compressed when its file system stores its\n"
    "     \t\tdata compressed with no attribute to say so (btrfs, and NTFS's\n"
    "     \t\toverlay compression); each file there is asked, and one that\n"
    "     \t\tcannot be is judged by its attribute alone. (Default: OFF)\n"
    "     --null\tEnds each listed path with a NUL byte instead of a newline, so\n"
    "     \t\tthat xargs -0 takes every name whole. (Default: OFF)\n"
    "     --mounts\tAlso searches the file systems mounted below the path, which\n"
    "     \t\tare otherwise passed over (Linux). (Default: OFF)\n"
    "\n"
    "Exit status: the number of matching files, 254 for 254 or more (Windows: the\n"
    "count itself); 0 after this usage text; 255 after an error (Windows: -1).\n"
    "A match is a non-zero status, which if, set -e and xargs take for a failure.\n";
