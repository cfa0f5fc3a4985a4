#!/usr/bin/env bash
# Draws the screenshots of docs/images (the console window with players joined, and the Info
# on Player dialog) with the window's own test, under the offscreen platform: no display needed.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build --preset default --target test_console
mkdir -p docs/images
ER_SCREENSHOTS="$PWD/docs/images" QT_QPA_PLATFORM=offscreen \
    build/default/bin/test_console --gtest_filter='*InfoInTheWindow*'
ls -l docs/images/console.png docs/images/player-info.png
