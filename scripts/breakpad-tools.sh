#!/usr/bin/env bash
# Puts Breakpad's dump tools (minidump_stackwalk, minidump_dump, dump_syms,
# prebuilt for linux-x64 in the npm package "minidump") under DEST, when
# they are not there yet. The crash tests read every Linux dump with them
# and call this script themselves when the tools are missing.
#
#   scripts/breakpad-tools.sh DEST     (tools end up in DEST/bin/linux-x64/)
#
# The package is unpacked, never installed: its install scripts (which
# would build the tools from source) do not run. Tests running side by side
# may call it at once: the package is unpacked aside and moved in whole.
set -euo pipefail
VERSION=0.26.0
dest="${1:?usage: $0 DEST}"
[ -x "$dest/bin/linux-x64/minidump_stackwalk" ] && exit 0
command -v npm >/dev/null || "$(dirname "$0")/deps.sh" npm
work="$(mktemp -d "${dest%/}.XXXXXX")"
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent "minidump@$VERSION" >/dev/null)
mkdir -p "$work/unpacked"
tar -xzf "$work/minidump-$VERSION.tgz" -C "$work/unpacked" --strip-components=1
chmod +x "$work"/unpacked/bin/linux-x64/*
# Another caller may have won the race: its copy is as good.
mv -T "$work/unpacked" "$dest" 2>/dev/null || [ -x "$dest/bin/linux-x64/minidump_stackwalk" ]
echo "breakpad-tools: minidump $VERSION in $dest"
