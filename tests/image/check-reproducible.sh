#!/usr/bin/env bash
# Builds the preset again from scratch in another folder and compares the image,
# the sample driver and any further file of the build's top folder (the
# removal program, the MSI's custom action) with those built before: no
# timestamps, paths or dates may differ.
# usage: check-reproducible.sh SOURCE-DIR PRESET IMAGE SCRATCH-DIR DRIVER [FILE...]
set -u
source_dir=$1 preset=$2 image=$3 scratch=$4 driver=$5
shift 5
targets=(Zeltrane zt_sample)
builds=("$image:$scratch/Zeltrane.exe" "$driver:$scratch/sample/$(basename "$driver")")
for file in "$@"; do
    name=$(basename "$file")
    targets+=("${name%.*}")
    builds+=("$file:$scratch/$name")
done
rm -rf "$scratch"
cmake -S "$source_dir" --preset "$preset" -B "$scratch" >"$scratch.log" 2>&1 &&
    cmake --build "$scratch" --target "${targets[@]}" >>"$scratch.log" 2>&1 ||
    { echo "FAIL the second build failed: see $scratch.log"; exit 1; }
failures=0
for built in "${builds[@]}"; do
    if cmp "${built%%:*}" "${built#*:}"; then
        echo "ok   a second clean build in $scratch gives a byte-identical $(basename "${built%%:*}")"
    else
        echo "FAIL the second clean build differs: ${built#*:}"
        failures=$((failures + 1))
    fi
done
[ "$failures" -eq 0 ] && rm -rf "$scratch" "$scratch.log"
[ "$failures" -eq 0 ]
