#!/bin/sh
# Runs vorlith (with OPTIONS, if any) on MAP and compares the document it writes with EXPECTED
# as trees.
#   check-map.sh VORLITH MAP EXPECTED [OPTIONS...]
set -eu
vorlith=$1 map=$2 expected=$3
shift 3
out=$(mktemp "${TMPDIR:-/tmp}/vorlith-check.XXXXXX")
trap 'rm -f "$out"' EXIT
"$vorlith" "$@" "$map" "$out"
python3 "$(dirname "$0")/compare-documents.py" "$out" "$expected"
