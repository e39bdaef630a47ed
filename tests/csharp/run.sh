#!/usr/bin/env bash
# Builds QuorSample.cs with mcs and runs it with mono in the given folder,
# over a phonebook of the simulated service. 77 (skip) without mcs or mono.
set -euo pipefail
source=$1
dir=$2
command -v mcs >/dev/null && command -v mono >/dev/null ||
  { echo "SKIP: mcs or mono is not installed (apt-get install mono-mcs mono-runtime)"; exit 77; }
mcs -nologo -warnaserror -out:"$dir/QuorSample.exe" "$source"
rm -rf "$dir/state"
printf '[Office]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0100\n[Busy]\nDEVICE=modem\nDevice=Sim Modem\nPhoneNumber=555-0102\nQuorOutcome=busy\n' \
  >"$dir/rasphone.pbk"
QUOR_RAS_PHONEBOOK="$dir/rasphone.pbk" QUOR_RAS_CREDENTIALS="$dir/credentials.dat" QUOR_RAS_STATE_DIR="$dir/state" \
  exec mono "$dir/QuorSample.exe"
