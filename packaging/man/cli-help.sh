#!/bin/sh
# Prints quorvane-cli's own help for help2man, so that its manual page is made from
# the program's words alone: the general help with, in place of the short list of
# commands, each command's usage, summary and arguments from its own --help. A default
# that names the build folder (the Speakers folder beside the executable) is shown as
# the installed one, /usr/bin.
#     QUORVANE_CLI=path/to/quorvane-cli cli-help.sh --help
set -eu
cli=${QUORVANE_CLI:?QUORVANE_CLI must name the built quorvane-cli}
if [ "${1:-}" != "--help" ]; then
  echo "usage: QUORVANE_CLI=... $0 --help" >&2
  exit 2
fi
folder=$(cd "$(dirname "$cli")" && pwd)
general=$("$cli" --help | awk -v folder="$folder" '{
  while ((at = index($0, folder)) > 0) {
    $0 = substr($0, 1, at - 1) "/usr/bin" substr($0, at + length(folder))
  }
  print
}')
# The description and usage, before the options.
printf '%s\n' "$general" | sed -n '1,/^Options:$/p' | sed '$d'
echo "Commands:"
for command in $(printf '%s\n' "$general" |
                 sed -n '/^Subcommands:$/,/^$/s/^  \([a-z][a-z-]*\) .*/\1/p'); do
  "$cli" "$command" --help | awk '
    NR == 1 { summary = $0; next }
    /^Usage: / { sub(/^Usage: /, ""); print "  " $0; print "        " summary; next }
    /^(Positionals|Options):$/ || /-h,--help/ || /^$/ { next }
    { print "    " $0 }'
done
echo
# The general options, without the short list of commands.
printf '%s\n' "$general" | sed -n '/^Options:$/,/^Subcommands:$/p' | sed '$d'
