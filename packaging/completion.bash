# bash completion for packhound: its options after a dash, directory names
# otherwise (a path never begins with a dash, so the two cannot mix).
_packhound() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local options="-u -su -nr -nh -ns -so -fp -h --help --version --extents --null --mounts"
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
  else
    # Quoted and ended with a slash as file names are.
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -d -- "$cur")
  fi
}
complete -F _packhound packhound
