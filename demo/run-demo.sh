#!/usr/bin/env bash
# Placeholder until the demo package lands: shows what was built.
set -euo pipefail
build=${1:-build}
ls -l "$build/bin"
