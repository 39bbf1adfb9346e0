# Plugs each descriptor of the run in as a uhid device, one at a time, and prints kvhid's listing
# of it as a "json NN {...}" line (or "error NN ...").
set -u
. "$KV_SRC/tests/kernel/lib.sh"
for f in "$KV_WORK"/files/*; do
  n=$(basename "$f")
  uhid_start d "$f"
  if node=$(uhid_node d); then
    "$KV_BUILD/tools/kvhid/kvhid" list --json >"$W/list.json" 2>"$W/list.err"
    echo "KV json $n $(jq -c --arg n "$node" '{interfaces: [.interfaces[] | select(.path == $n or (.path | startswith($n + "#")))]}' "$W/list.json")"
  else
    echo "KV error $n $(head -c 300 "$W/d.out" | tr '\n' ' ')"
  fi
  uhid_stop d
done
exit 0
