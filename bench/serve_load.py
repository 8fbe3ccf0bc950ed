#!/usr/bin/env python3
"""Load for bench/serve: REQUESTS requests from CLIENTS clients (each one keep-alive connection),
spread over the hashes of HASHES (one a line), against URL (a template with {hash}). Prints the
50th and 99th percentile of the request times in ms, and the statuses that were not 200."""
import http.client
import sys
import threading
import time
import urllib.parse

url, hashes_file, requests, clients = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
hashes = [h.strip() for h in open(hashes_file) if h.strip()]
times, bad, lock = [], {}, threading.Lock()


def client(k):
    connection = None
    for i in range(k, requests, clients):
        target = urllib.parse.urlsplit(url.replace("{hash}", hashes[i % len(hashes)]))
        if connection is None:
            connection = http.client.HTTPConnection(target.hostname, target.port, timeout=300)
        path = target.path + ("?" + target.query if target.query else "")
        start = time.perf_counter()
        try:
            connection.request("GET", path)
            answer = connection.getresponse()
            answer.read()
            status = answer.status
        except (OSError, http.client.HTTPException):
            status, connection = "error", None
        took = (time.perf_counter() - start) * 1000
        with lock:
            times.append(took)
            if status != 200:
                bad[status] = bad.get(status, 0) + 1


threads = [threading.Thread(target=client, args=(k,)) for k in range(clients)]
for t in threads:
    t.start()
for t in threads:
    t.join()
times.sort()
print("%.2f %.2f %s" % (times[len(times) // 2], times[min(len(times) - 1, len(times) * 99 // 100)],
                        bad or "-"))
