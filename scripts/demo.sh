#!/usr/bin/env bash
# Installs what is missing, builds Corvale and runs it on the examples: parses FIX messages of
# several levels into trees, writes an XML tree back as FIX, and asks the plug-in for its levels
# and statistics.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
fixhost=build/default/host/fixhost
echo "== The plug-in registers its parser factory and classes"
"$fixhost" info
echo "== FIX.4.4 messages parsed into trees"
"$fixhost" parse examples/FIX44.fix
echo "== An XML tree written back as FIX (| shown for SOH)"
"$fixhost" write examples/order.xml | tr '\001' '|'
echo "== Round trip of every example message"
"$fixhost" roundtrip examples/*.fix
echo "== Module levels and statistics"
"$fixhost" mgmt GETLEVEL
"$fixhost" parse --stats examples/FIX42.fix | sed -n '/statistics\//,$p'
