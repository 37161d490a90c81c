#!/usr/bin/env bash
# Writes the man page tessaly(1) from the program's own help texts: help2man reads
# "tessaly --help" and "--version"; COMMANDS holds the --help of every command that the
# top-level help lists, and FILES names the paths of the Debian package.
# Usage: packaging/man-page.sh BINARY OUTPUT
set -euo pipefail
binary=$(realpath "$1")
output=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Run through PATH as plain "tessaly", so that the usage lines name no build folder.
ln -s "$binary" "$work/tessaly"
export PATH="$work:$PATH"

# Help text as literal roff: backslashes escaped, no line taken for a request.
literal() { sed -e 's/\\/\\e/g' -e "s/^\([.']\)/\\\\\&\1/"; }

commands=$(tessaly --help | awk '/^Subcommands:/ { on = 1; next } on && /^  [a-z]/ { print $1 }')
[[ -n $commands ]] || { echo "man-page.sh: no commands in tessaly --help" >&2; exit 1; }
{
  echo '[COMMANDS]'
  for command in $commands; do
    echo ".SS \"tessaly $command\""
    echo '.nf'
    tessaly "$command" --help | literal
    echo '.fi'
  done
  cat <<'ROFF'
[FILES]
.TP
.I /etc/tessaly/tessaly.toml
The configuration that the service reads (\fBtessaly serve \-\-config\fR).
.TP
.I /var/lib/tessaly/site
The site's root folder. The database of the page /log/board is
.I log/logs.mdb
under it, created by \fBtessaly init\fR and written only by the service.
.TP
.I /lib/systemd/system/tessaly.service
The service, run as the system user \fBtessaly\fR.
[EXAMPLES]
Create the database and the administrator, then start the service:
.PP
.nf
echo 'PASSWORD' | runuser \-u tessaly \-\- tessaly init \-\-root /var/lib/tessaly/site \e
    \-\-user admin \-\-password\-stdin
systemctl enable \-\-now tessaly
.fi
ROFF
} >"$work/include.h2m"

help2man --no-info --section=1 --name='a site log board with its own web server' \
  --include="$work/include.h2m" --output="$output" tessaly
