#!/usr/bin/python3
"""The floor for fetching metadata from a swarm: one libtorrent session (Debian's
python3-libtorrent, the library velindra-cli uses) that adds every link at once, with peers
dialled as fast as the library goes, and writes each torrent as its metadata arrives.

    swarm_floor.py LINKS-FILE OUT-FOLDER [DHT-NODE]

Exits 0 once every link has its .torrent file, 1 after 60 s without them all. With STATE set
in the environment, the DHT starts from the state saved there by the last run, and saves its
own there at the end."""
import os
import sys
import time

import libtorrent as lt

links = [line.strip() for line in open(sys.argv[1]) if line.strip()]
out = sys.argv[2]
node = sys.argv[3] if len(sys.argv) > 3 else ""
state = os.environ.get("STATE", "")
params = lt.session_params()
if state and os.path.exists(state):
    with open(state, "rb") as f:
        params = lt.read_session_params(f.read())
params.settings = {
    "listen_interfaces": "127.0.0.1:0",
    "enable_dht": bool(node),
    "dht_bootstrap_nodes": node,
    "dht_restrict_routing_ips": False,
    "dht_restrict_search_ips": False,
    "enable_lsd": False,
    "enable_upnp": False,
    "enable_natpmp": False,
    "connection_speed": 500,
    "connections_limit": 8000,
    "tick_interval": 100,
    "alert_mask": lt.alert.category_t.status_notification | lt.alert.category_t.error_notification,
}
session = lt.session(params)
handles = []
for link in links:
    params = lt.parse_magnet_uri(link)
    params.save_path = out
    params.flags |= lt.torrent_flags.upload_mode
    params.flags &= ~(lt.torrent_flags.auto_managed | lt.torrent_flags.paused)
    handles.append(session.add_torrent(params))

# A torrent added while the DHT is still starting is looked up there only at the library's next
# announce: asked again every second while it has no peer.
left = len(links)
deadline = time.monotonic() + 60
ask = time.monotonic() + 0.25
while left and time.monotonic() < deadline:
    if node and time.monotonic() >= ask:
        for handle in handles:
            if handle.status().num_peers == 0:
                handle.force_dht_announce()
        ask = time.monotonic() + 1
    session.wait_for_alert(100)
    for alert in session.pop_alerts():
        if isinstance(alert, lt.metadata_received_alert):
            info = alert.handle.torrent_file()
            body = b"d4:info" + bytes(info.info_section()) + b"e"
            name = os.path.join(out, info.name() + ".torrent")
            with open(name + ".part", "wb") as f:
                f.write(body)
            os.rename(name + ".part", name)
            left -= 1
if state:
    with open(state, "wb") as f:
        f.write(lt.bencode(session.save_state()))
sys.exit(1 if left else 0)
