#!/usr/bin/env bash
# Builds the preset again from scratch in another folder and compares the image
# with the one built before: no timestamps, paths or dates may differ.
# usage: check-reproducible.sh SOURCE-DIR PRESET IMAGE SCRATCH-DIR
set -u
source_dir=$1 preset=$2 image=$3 scratch=$4
rm -rf "$scratch"
cmake -S "$source_dir" --preset "$preset" -B "$scratch" >"$scratch.log" 2>&1 &&
    cmake --build "$scratch" --target Zeltrane >>"$scratch.log" 2>&1 ||
    { echo "FAIL the second build failed: see $scratch.log"; exit 1; }
if cmp "$image" "$scratch/Zeltrane.exe"; then
    echo "ok   a second clean build in $scratch gives a byte-identical image"
    rm -rf "$scratch" "$scratch.log"
else
    echo "FAIL the second clean build differs: $scratch/Zeltrane.exe"
    exit 1
fi
